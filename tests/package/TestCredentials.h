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

Key NewKey(const char* curve = "P-256");  // EC: quick to make
Key NewRsaKey();
Key NewRsaPssKey();
Key NewEd25519Key();
std::string PrivateKeyPem(EVP_PKEY* key);  // PKCS#8
// PKCS#1 RSA PRIVATE KEY or SEC1 EC PRIVATE KEY; an EC key's EC PARAMETERS block.
std::string TraditionalPrivateKeyPem(EVP_PKEY* key);
std::string ParametersPem(EVP_PKEY* key);
std::string EncryptedPrivateKeyPem(EVP_PKEY* key);
// A self-signed certificate for the key, valid between now + from and now + until (seconds),
// with an extended key usage extension where one is named ("codeSigning").
std::string CertificatePem(EVP_PKEY* key, std::time_t now, long from, long until,
                           const char* extendedKeyUsage = nullptr);

}  // namespace kdu::package::testing
