#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/unit/Fakes.h"
#include "update/CredentialReplacement.h"
#include "update/PackageCheck.h"

namespace kdu::testing {
namespace {

// The sample deployment's new pair.
const std::string kNewCertificate = SourceFile("sample/deployment/new-cert.pem");
const std::string kNewKey = SourceFile("sample/deployment/new-key.pem");

TEST(CredentialPaths, ArePlainConcatenations) {
    const auto paths =
        ComposePaths(L"E:\\", L"D:\\Kestova\\", L"Certificate.pem", L"PrivateKey.pem");
    const auto& [certificate, privateKey] = paths.swaps;
    EXPECT_EQ(certificate.incoming, L"E:\\\\data1.bin");
    EXPECT_EQ(privateKey.incoming, L"E:\\\\data2.bin");
    EXPECT_EQ(paths.checksums, L"E:\\\\SHA256SUMS");
    EXPECT_EQ(certificate.installed, L"D:\\Kestova\\\\Certificate.pem");
    EXPECT_EQ(certificate.backup, L"D:\\Kestova\\\\Certificate.pem_old");
    EXPECT_EQ(privateKey.installed, L"D:\\Kestova\\\\PrivateKey.pem");
    EXPECT_EQ(privateKey.backup, L"D:\\Kestova\\\\PrivateKey.pem_old");
}

// What the incoming files may hold, and the SHA256SUMS lines that are read: only the structure.
TEST(PackageCheck, PemStructureAndChecksumLines) {
    const auto chain = kNewCertificate + SourceFile("sample/deployment/test-ca.pem");
    std::string crlf;
    for (const char c : kNewCertificate) crlf += c == '\n' ? std::string{"\r\n"} : std::string{c};
    std::string badBase64 = kNewCertificate;
    badBase64[40] = '!';
    const std::string cut = kNewCertificate.substr(0, kNewCertificate.size() / 2);
    const std::string mismatched = "-----BEGIN CERTIFICATE-----\nAAAA\n-----END X509 CRL-----\n";
    struct Case {
        const char* name;
        std::string pem;
        std::optional<Failure> asCertificate;
        std::optional<Failure> asKey;
    };
    const auto notCertificate = Failure::NotACertificate;
    const auto notKey = Failure::NotAPrivateKey;
    const Case cases[] = {
        {"certificate", kNewCertificate, {}, notKey},
        {"chain, leaf first", chain, {}, notKey},
        {"certificate with CR LF", crlf, {}, notKey},
        {"PKCS#8 key", kNewKey, notCertificate, {}},
        {"RSA key", SourceFile("tests/fixtures/rsa-traditional-key.pem"), notCertificate, {}},
        {"EC key after its parameters",
         SourceFile("tests/fixtures/ec-key-with-parameters.pem"),
         notCertificate,
         {}},
        {"encrypted PKCS#8 key", SourceFile("tests/fixtures/encrypted-key.pem"), notCertificate,
         Failure::EncryptedPrivateKey},
        {"encrypted RSA key", SourceFile("tests/fixtures/encrypted-rsa-traditional-key.pem"),
         notCertificate, Failure::EncryptedPrivateKey},
        {"public key", SourceFile("tests/fixtures/public-key.pem"), notCertificate, notKey},
        {"certificate and key in one", kNewCertificate + kNewKey, notCertificate, notKey},
        {"two keys", kNewKey + kNewKey, notCertificate, notKey},
        {"cut short", cut, notCertificate, notKey},
        {"a character that is not base64", badBase64, notCertificate, notKey},
        {"END of another label", mismatched, notCertificate, notKey},
        {"binary", std::string("\x30\x82\x03\x95\0\0", 6), notCertificate, notKey},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.pem.empty());
        EXPECT_EQ(CertificateProblem(c.pem), c.asCertificate);
        EXPECT_EQ(PrivateKeyProblem(c.pem), c.asKey);
    }

    const std::string digest(64, 'a');
    const auto parsed = ParseChecksums(digest + " *data1.bin\r\n\n\\" + digest + "  a\\\\b\n");
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->size(), 2u);
    EXPECT_EQ((*parsed)[0].name, "data1.bin");
    EXPECT_EQ((*parsed)[1].name, "a\\b") << "sha256sum's escape undone";
    EXPECT_EQ((*parsed)[1].digest[0], 0xAA);
    for (const std::string& malformed : std::vector<std::string>{
             "", "\n", digest.substr(1) + "  data1.bin", digest + " data1.bin", digest + "  ",
             std::string(63, 'a') + "g  data1.bin", "\\" + digest + "  a\\x"}) {
        EXPECT_FALSE(ParseChecksums(malformed)) << malformed;
    }
}

// The digests the package is checked by: the standard's examples, in one piece and in pieces
// that cross the 64-byte blocks and the padding's edge.
TEST(Sha256, GivesTheStandardsDigestsInAnyPieces) {
    const auto hex = [](const Sha256Digest& digest) {
        std::string text;
        for (const auto byte : digest) {
            text += "0123456789abcdef"[byte >> 4];
            text += "0123456789abcdef"[byte & 0xF];
        }
        return text;
    };
    const std::pair<std::string, const char*> rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: two blocks
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [message, digest] : rows) {
        EXPECT_EQ(hex(Sha256Of(message)), digest) << message.size() << " bytes";
        for (const std::size_t piece : {1u, 55u, 63u, 64u, 65u}) {
            Sha256 pieces;
            for (std::size_t at = 0; at < message.size(); at += piece) {
                pieces.Add(std::string_view{message}.substr(at, piece));
            }
            EXPECT_EQ(hex(pieces.Finish()), digest) << message.size() << " bytes by " << piece;
        }
    }
}

}  // namespace
}  // namespace kdu::testing
