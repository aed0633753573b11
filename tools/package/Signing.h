#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kdu::package {

// A code-signing certificate (PEM, its chain after it) and its key, and where to timestamp.
struct SigningInputs {
    std::filesystem::path certificate;
    std::filesystem::path key;
    std::string timestampUrl;  // empty: no timestamp (the signature ends with the certificate)
};

struct Signed {
    std::string executable;  // the signed bytes, when signing succeeded
    std::string failure;     // else what osslsigncode said
};

// Signs exe with Authenticode (SHA-256, RFC 3161 timestamp where a URL is given) by running
// osslsigncode; the certificate and key are taken as checked.
Signed SignExecutable(std::string_view exe, const SigningInputs& signing);

}  // namespace kdu::package
