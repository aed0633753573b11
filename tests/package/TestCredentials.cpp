#include "tests/package/TestCredentials.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace kdu::package::testing {
namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};

std::string Contents(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(length));
}

void Check(int result) {
    if (result != 1) throw std::runtime_error("OpenSSL failed to make test data");
}

Key Made(EVP_PKEY* key) {
    if (!key) throw std::runtime_error("no test key");
    return Key{key};
}

}  // namespace

Key NewKey(const char* curve) { return Made(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve)); }
Key NewRsaKey() { return Made(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", std::size_t{2048})); }
Key NewRsaPssKey() {
    const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context{
        EVP_PKEY_CTX_new_from_name(nullptr, "RSA-PSS", nullptr), EVP_PKEY_CTX_free};
    EVP_PKEY* key = nullptr;
    if (context && EVP_PKEY_keygen_init(context.get()) == 1 &&
        EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), 2048) == 1) {
        EVP_PKEY_generate(context.get(), &key);
    }
    return Made(key);
}
Key NewEd25519Key() { return Made(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")); }

std::string TraditionalPrivateKeyPem(EVP_PKEY* key) {
    const std::unique_ptr<BIO, BioFree> out{BIO_new(BIO_s_mem())};
    Check(PEM_write_bio_PrivateKey_traditional(out.get(), key, nullptr, nullptr, 0, nullptr,
                                               nullptr));
    return Contents(out.get());
}

std::string ParametersPem(EVP_PKEY* key) {
    const std::unique_ptr<BIO, BioFree> out{BIO_new(BIO_s_mem())};
    Check(PEM_write_bio_Parameters(out.get(), key));
    return Contents(out.get());
}

std::string PrivateKeyPem(EVP_PKEY* key) {
    const std::unique_ptr<BIO, BioFree> out{BIO_new(BIO_s_mem())};
    Check(PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr));
    return Contents(out.get());
}

std::string EncryptedPrivateKeyPem(EVP_PKEY* key) {
    const std::unique_ptr<BIO, BioFree> out{BIO_new(BIO_s_mem())};
    char passphrase[] = "secret";
    Check(PEM_write_bio_PKCS8PrivateKey(out.get(), key, EVP_aes_256_cbc(), passphrase, 6, nullptr,
                                        nullptr));
    return Contents(out.get());
}

std::string CertificatePem(EVP_PKEY* key, std::time_t now, long from, long until,
                           const char* extendedKeyUsage) {
    const std::unique_ptr<X509, X509Free> certificate{X509_new()};
    Check(X509_set_version(certificate.get(), 2));
    Check(ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1));
    Check(X509_time_adj(X509_getm_notBefore(certificate.get()), from, &now) ? 1 : 0);
    Check(X509_time_adj(X509_getm_notAfter(certificate.get()), until, &now) ? 1 : 0);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                     reinterpret_cast<const unsigned char*>("Kestova Test"), -1, -1,
                                     0));
    Check(X509_set_issuer_name(certificate.get(), name));
    Check(X509_set_pubkey(certificate.get(), key));
    if (extendedKeyUsage) {
        X509V3_CTX context;
        X509V3_set_ctx(&context, certificate.get(), certificate.get(), nullptr, nullptr, 0);
        X509_EXTENSION* usage =
            X509V3_EXT_conf_nid(nullptr, &context, NID_ext_key_usage, extendedKeyUsage);
        Check(usage && X509_add_ext(certificate.get(), usage, -1) ? 1 : 0);
        X509_EXTENSION_free(usage);
    }
    // Ed25519 signs with no separate digest.
    const EVP_MD* digest = EVP_PKEY_get_id(key) == EVP_PKEY_ED25519 ? nullptr : EVP_sha256();
    if (X509_sign(certificate.get(), key, digest) <= 0) Check(0);
    const std::unique_ptr<BIO, BioFree> out{BIO_new(BIO_s_mem())};
    Check(PEM_write_bio_X509(out.get(), certificate.get()));
    return Contents(out.get());
}

}  // namespace kdu::package::testing
