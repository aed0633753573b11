#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "tools/package/Findings.h"

namespace kdu::package {

struct CredentialFiles {
    std::string certificateName;
    std::string certificate;  // the file's bytes
    std::string keyName;
    std::string key;
};

struct CredentialRules {
    std::time_t now = 0;
    bool allowNotYetValid = false;  // a certificate for a future date: a warning, not an error
    bool codeSigning = false;       // the certificate must be for code signing (extended key usage)
    bool keyUnseen = false;         // code signing on a token or by a command: no key file
};

// A signature's timestamp, as read from the signature made.
enum class Timestamp {
    None,
    Unverified,  // there is one, but it does not verify: the signature ends with the certificate
    Verified,    // the signature stays valid after the certificate expires
};

// Checks that the certificate (the first of the file, where it holds a chain) is a PEM X.509
// certificate valid now (and warns where it expires within 30 days), that the key is an
// unencrypted PEM private key, and that the key belongs to the certificate. The product's pair
// (not the code-signing one) is checked by the exe's own rules as well, first its PEM structure
// rules and last its pair checks, so that the exe accepts whatever passes.
void CheckCredentials(const CredentialFiles& files, const CredentialRules& rules,
                      Findings& findings);

// What the signature's timestamp means for it, where it matters: without one that verifies, the
// signature stops verifying when the signing certificate (the first of the file) expires; with
// one, a certificate that expires within 30 days wants renewing before the next package.
void WarnAboutTheTimestamp(const CredentialFiles& files, Timestamp timestamp, std::time_t now,
                           Findings& findings);

}  // namespace kdu::package
