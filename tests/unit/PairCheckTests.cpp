#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "tests/package/TestCredentials.h"
#include "update/Der.h"
#include "update/PairCheck.h"

namespace kdu::testing {
namespace {

// Keys of each kind and encoding against their certificates, made by OpenSSL here.
TEST(PairCheck, KeysBelongToTheirCertificatesOnly) {
    using namespace package::testing;
    const std::time_t now = 1796688000;
    const auto rsa = NewRsaKey();
    const auto p256 = NewKey("P-256");
    const auto otherP256 = NewKey("P-256");  // the same curve, another point
    const auto p384 = NewKey("P-384");
    const auto ed25519 = NewEd25519Key();
    const auto pss = NewRsaPssKey(), otherPss = NewRsaPssKey();
    struct Case {
        const char* name;
        EVP_PKEY* key;
        std::string pem;
        KeyMatch expected = KeyMatch::Same;
    };
    const Case cases[] = {
        {"RSA, PKCS#8", rsa.get(), PrivateKeyPem(rsa.get())},
        {"RSA, PKCS#1", rsa.get(), TraditionalPrivateKeyPem(rsa.get())},
        {"P-256, SEC1", p256.get(), TraditionalPrivateKeyPem(p256.get())},
        {"P-256, SEC1 after EC PARAMETERS", p256.get(),
         ParametersPem(p256.get()) + TraditionalPrivateKeyPem(p256.get())},
        {"P-256, PKCS#8", p256.get(), PrivateKeyPem(p256.get())},
        {"another P-256 key", otherP256.get(), PrivateKeyPem(otherP256.get())},
        {"P-384, SEC1", p384.get(), TraditionalPrivateKeyPem(p384.get())},
        {"P-384, PKCS#8", p384.get(), PrivateKeyPem(p384.get())},
        {"RSA-PSS, PKCS#8", pss.get(), PrivateKeyPem(pss.get())},
        {"another RSA-PSS key", otherPss.get(), PrivateKeyPem(otherPss.get())},
        {"Ed25519: no public part to compare", ed25519.get(), PrivateKeyPem(ed25519.get()),
         KeyMatch::Unknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto key = ReadPrivateKey(c.pem);
        ASSERT_TRUE(key);
        for (const auto& other : cases) {
            // A chain, leaf first: the leaf is the one compared.
            const auto leaf = ReadLeafCertificate(CertificatePem(other.key, now, 0, 86400) +
                                                  CertificatePem(c.key, now, 0, 86400));
            ASSERT_TRUE(leaf) << other.name;
            const auto expected = other.key == c.key ? c.expected : KeyMatch::Different;
            EXPECT_EQ(CompareKeys(leaf->key, *key), expected) << "with " << other.name;
        }
    }
}

// Validity as UTCTime (to 2049) and GeneralizedTime (from 2050); broken DER is refused, never
// read beyond its end.
TEST(PairCheck, DatesAndBrokenDer) {
    using namespace package::testing;
    const std::time_t now = 1796688000;  // 2026-12-08
    const auto key = NewKey();
    const auto utc = ReadLeafCertificate(CertificatePem(key.get(), now, -86400, 86400));
    const auto generalized =
        ReadLeafCertificate(CertificatePem(key.get(), now, 0, 40L * 365 * 86400));
    ASSERT_TRUE(utc && generalized);
    EXPECT_EQ(utc->notBefore, now - 86400);
    EXPECT_EQ(utc->notAfter, now + 86400);
    EXPECT_EQ(generalized->notAfter, now + 40L * 365 * 86400);
    EXPECT_EQ(DateText(generalized->notAfter), L"2066-11-28");
    EXPECT_EQ(DateText(now), L"2026-12-08");

    const auto der = [](std::initializer_list<std::uint8_t> bytes) {
        return std::vector<std::uint8_t>(bytes);
    };
    for (const auto& broken : {der({0x30, 0x05, 0x02, 0x01, 0x00}),        // longer than it is
                               der({0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}),  // 4 GiB
                               der({0x30, 0x85, 0, 0, 0, 0, 1, 0}),        // 5 length bytes
                               der({0x30, 0x80, 0x00, 0x00}),              // indefinite
                               der({0x3F, 0x81, 0x01, 0x00})}) {           // a long tag
        der::Bytes input{broken.data(), broken.size()};
        EXPECT_FALSE(der::Read(input));
    }
    const auto pem = CertificatePem(key.get(), now, 0, 86400);
    auto body = pem.substr(28, pem.find("\n-----END") - 28);  // the base64 lines
    body.erase(body.find_last_not_of('=') + 1);               // and no padding, which holds no data
    ASSERT_TRUE(ReadLeafCertificate(pem));
    for (std::size_t cut = 0; cut < body.size(); cut += 4) {
        // Every prefix of the certificate: a clean refusal (ASan tells a read past the end).
        EXPECT_FALSE(ReadLeafCertificate("-----BEGIN CERTIFICATE-----\n" + body.substr(0, cut) +
                                         "\n-----END CERTIFICATE-----\n"))
            << cut;
    }
}

}  // namespace
}  // namespace kdu::testing
