#pragma once

// Certificates and keys made on the spot with OpenSSL, for the package builder's tests.

#include <openssl/evp.h>

#include <ctime>
#include <memory>
#include <string>

namespace kdu::package::testing {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

Key NewKey();  // EC P-256: quick to make
std::string PrivateKeyPem(EVP_PKEY* key);
std::string EncryptedPrivateKeyPem(EVP_PKEY* key);
// A self-signed certificate for the key, valid between now + from and now + until (seconds),
// with an extended key usage extension where one is named ("codeSigning").
std::string CertificatePem(EVP_PKEY* key, std::time_t now, long from, long until,
                           const char* extendedKeyUsage = nullptr);

}  // namespace kdu::package::testing
