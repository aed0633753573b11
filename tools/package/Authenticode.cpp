#include "tools/package/Authenticode.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

namespace kdu::package {
namespace {

template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};
using UniqueX509 = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using UniquePkcs7 = std::unique_ptr<PKCS7, OpenSslFree<PKCS7_free>>;
using UniqueObject = std::unique_ptr<ASN1_OBJECT, OpenSslFree<ASN1_OBJECT_free>>;
using UniqueDigestInfo = std::unique_ptr<X509_SIG, OpenSslFree<X509_SIG_free>>;

// Microsoft's object identifiers in Authenticode signatures.
constexpr char kIndirectData[] = "1.3.6.1.4.1.311.2.1.4";     // SpcIndirectDataContent
constexpr char kNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";  // a further signature, inside
constexpr char kRfc3161Timestamp[] = "1.3.6.1.4.1.311.3.3.1";
constexpr char kCountersignature[] = "1.2.840.113549.1.9.6";  // Authenticode's older timestamp

bool Is(const ASN1_OBJECT* object, const char* oid) {
    const UniqueObject expected{OBJ_txt2obj(oid, 1)};
    return object && expected && OBJ_cmp(object, expected.get()) == 0;
}

bool HasUnsignedAttribute(const PKCS7_SIGNER_INFO* signer, const char* oid) {
    const UniqueObject object{OBJ_txt2obj(oid, 1)};
    return X509at_get_attr_by_OBJ(signer->unauth_attr, object.get(), -1) >= 0;
}

std::string Der(X509* certificate) {
    unsigned char* bytes = nullptr;
    const int length = i2d_X509(certificate, &bytes);
    if (length <= 0) return {};
    std::string der(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(length));
    OPENSSL_free(bytes);
    return der;
}

std::string Subject(X509* certificate) {
    char name[256];
    X509_NAME_oneline(X509_get_subject_name(certificate), name, sizeof(name));
    return name;
}

// The algorithm of the file's digest that the signed content (SpcIndirectDataContent) holds: its
// second field is a DigestInfo.
int FileDigestAlgorithm(const PKCS7* signature) {
    const PKCS7* content = signature->d.sign->contents;
    if (!Is(content->type, kIndirectData) || !content->d.other ||
        content->d.other->type != V_ASN1_SEQUENCE) {
        return NID_undef;
    }
    const ASN1_STRING* sequence = content->d.other->value.sequence;
    const unsigned char* at = ASN1_STRING_get0_data(sequence);
    const auto fields = std::unique_ptr<STACK_OF(ASN1_TYPE), void (*)(STACK_OF(ASN1_TYPE)*)>{
        d2i_ASN1_SEQUENCE_ANY(nullptr, &at, ASN1_STRING_length(sequence)),
        [](STACK_OF(ASN1_TYPE) * types) { sk_ASN1_TYPE_pop_free(types, ASN1_TYPE_free); }};
    if (!fields || sk_ASN1_TYPE_num(fields.get()) != 2) return NID_undef;
    const ASN1_TYPE* digest = sk_ASN1_TYPE_value(fields.get(), 1);
    if (digest->type != V_ASN1_SEQUENCE) return NID_undef;
    const unsigned char* infoAt = ASN1_STRING_get0_data(digest->value.sequence);
    const UniqueDigestInfo info{
        d2i_X509_SIG(nullptr, &infoAt, ASN1_STRING_length(digest->value.sequence))};
    if (!info) return NID_undef;
    const X509_ALGOR* algorithm = nullptr;
    X509_SIG_get0(info.get(), &algorithm, nullptr);
    const ASN1_OBJECT* object = nullptr;
    X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    return OBJ_obj2nid(object);
}

// What is wrong with the signer's certificate: it must be the leaf itself, not one like it.
std::string SignerProblem(PKCS7* signature, const LeafCertificate& leaf) {
    STACK_OF(X509)* signers = PKCS7_get0_signers(signature, nullptr, 0);
    X509* signer = sk_X509_num(signers) == 1 ? sk_X509_value(signers, 0) : nullptr;
    std::string problem;
    if (!signer) {
        problem = "its signer's certificate is not in the signature";
    } else if (Der(signer) != leaf.der) {
        problem = "it is signed with the certificate of " + Subject(signer) +
                  ", not with --sign-certificate's (" + leaf.subject + ")";
    }
    sk_X509_free(signers);
    return problem;
}

}  // namespace

std::optional<LeafCertificate> ReadLeaf(std::string_view pem) {
    const std::unique_ptr<BIO, OpenSslFree<BIO_free>> bio{
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()))};
    const UniqueX509 certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)};
    std::tm notAfter{};
    if (!certificate || ASN1_TIME_to_tm(X509_get0_notAfter(certificate.get()), &notAfter) != 1) {
        return std::nullopt;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    X509_digest(certificate.get(), EVP_sha256(), digest, &length);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0xF];
    }
    return LeafCertificate{Der(certificate.get()), hex, Subject(certificate.get()),
                           timegm(&notAfter)};
}

SignatureReading ReadSignature(std::string_view pkcs7, const LeafCertificate& leaf) {
    const auto* at = reinterpret_cast<const unsigned char*>(pkcs7.data());
    const UniquePkcs7 signature{d2i_PKCS7(nullptr, &at, static_cast<long>(pkcs7.size()))};
    if (!signature || !PKCS7_type_is_signed(signature.get()) ||
        at != reinterpret_cast<const unsigned char*>(pkcs7.data() + pkcs7.size())) {
        return {"its certificate table holds no PKCS#7 signature"};
    }
    const auto* signers = PKCS7_get_signer_info(signature.get());
    if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) {
        return {"it holds " + std::to_string(sk_PKCS7_SIGNER_INFO_num(signers)) +
                " signatures in one; exactly one is expected"};
    }
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    if (HasUnsignedAttribute(signer, kNestedSignature)) {
        return {"it holds a second, nested signature; exactly one is expected"};
    }
    X509_ALGOR* signerDigest = nullptr;
    PKCS7_SIGNER_INFO_get0_algs(signer, nullptr, &signerDigest, nullptr);
    const ASN1_OBJECT* signerAlgorithm = nullptr;
    X509_ALGOR_get0(&signerAlgorithm, nullptr, nullptr, signerDigest);
    for (const int algorithm :
         {FileDigestAlgorithm(signature.get()), OBJ_obj2nid(signerAlgorithm)}) {
        if (algorithm == NID_sha256) continue;
        return {std::string{"its digest is "} + OBJ_nid2sn(algorithm) +
                ", not SHA-256 (Windows no longer accepts SHA-1 signatures)"};
    }
    if (auto problem = SignerProblem(signature.get(), leaf); !problem.empty()) {
        return {std::move(problem)};
    }
    return {{},
            HasUnsignedAttribute(signer, kRfc3161Timestamp) ||
                HasUnsignedAttribute(signer, kCountersignature)};
}

}  // namespace kdu::package
