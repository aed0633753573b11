#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/package/Credentials.h"

namespace kdu::package {

// A code-signing certificate (PEM, its chain after it), and how to sign with its key: a key file,
// a key on a token or HSM through PKCS#11, or any signing command; where to timestamp, and how.
struct SigningInputs {
    std::filesystem::path certificate;
    std::filesystem::path key;      // a PEM file, or a "pkcs11:" URI with pkcs11Module
    std::string pkcs11Module;       // the token's PKCS#11 library
    std::filesystem::path pinFile;  // the PIN; else KESTOVA_PKCS11_PIN, else the token's way
    std::string command;  // run through the shell, the exe's path in "$1", $KESTOVA_SIGN_FILE, $f
    // Tried in turn. None: no timestamp (the signature ends with the certificate). Beside a
    // command, which timestamps as it is told: the signature must carry a timestamp.
    std::vector<std::string> timestampUrls;
    std::filesystem::path timestampCa;  // trusted for timestamps, beside the trust store
    std::filesystem::path crl;          // revocation is checked against it; none: not checked

    bool KeyOnToken() const { return key.string().starts_with("pkcs11:"); }
    // The builder sees no key: the signature made is verified against the certificate instead.
    bool KeyUnseen() const { return KeyOnToken() || !command.empty(); }
};

struct Signed {
    std::string executable;  // the signed bytes, when signing succeeded
    std::string failure;     // else why not, in one line
    Timestamp timestamp = Timestamp::None;
};

// Signs exe with Authenticode (SHA-256) by running osslsigncode, or the signing command, each run
// within a time limit; where URLs are given, timestamps it (each URL in turn, tried twice). The
// certificate and a key file are taken as checked. What a command leaves must be the same
// program with the same digest slot, a signature added and nothing else. The signature must then
// be exactly one, SHA-256, by the certificate given, and verify up its chain to a root in it or
// in the system's trust store (SSL_CERT_FILE where it is set); a timestamp must verify too, so
// that the signature outlives the certificate. The PIN never appears in a command line or in
// what is said. SIGINT or SIGTERM meanwhile ends what runs and throws Interrupted.
Signed SignExecutable(std::string_view exe, const SigningInputs& signing);

// Whether after is before with an Authenticode signature added and nothing else: the same bytes
// but the checksum and the certificate table's directory entry, then zeros (the table's
// alignment), then the table, to the end, as one entry.
bool OnlyASignatureAdded(std::string_view before, std::string_view after);

}  // namespace kdu::package
