// libFuzzer target: the parsers of what a package brings, as downloaded: the PEM checks of
// data1.bin and data2.bin with the reading of their DER that the pair check does, SHA256SUMS, and
// the digest slot of the exe. The first byte picks the parser. Every input's SHA-256, whole and
// in two pieces, is OpenSSL's.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <openssl/evp.h>

#include "platform/Sha256.h"
#include "update/PackageCheck.h"
#include "update/PackageDigests.h"
#include "update/PairCheck.h"

namespace {

void CheckPem(std::string_view pem) {
    // A text the structure check passes holds the block it was checked for.
    if (!kdu::CertificateProblem(pem) && pem.find("-----BEGIN CERTIFICATE-----") == pem.npos) {
        std::abort();
    }
    if (!kdu::PrivateKeyProblem(pem) && pem.find("PRIVATE KEY-----") == pem.npos) std::abort();
    const auto certificate = kdu::ReadLeafCertificate(pem);
    const auto key = kdu::ReadPrivateKey(pem);
    if (certificate && key) kdu::CompareKeys(certificate->key, *key);
}

void CheckChecksums(std::string_view text) {
    const auto lines = kdu::ParseChecksums(text);
    if (!lines) return;
    if (lines->empty()) std::abort();  // a list without a line is refused
    for (const auto& line : *lines) {
        if (line.name.size() > text.size()) std::abort();
    }
}

void CheckDigestSlot(std::string_view slot) {
    try {
        const auto digests = kdu::ReadDigestSlot(slot, L"KestovaDesktopUpdater.exe");
        // What was read is what a slot filled with it reads back as.
        if (digests && kdu::ReadDigestSlot(kdu::FilledDigestSlot(*digests), L"") != digests) {
            std::abort();
        }
    } catch (const kdu::SystemError& error) {
        if (error.Kind() != kdu::Failure::ChecksumsMalformed) std::abort();
    }
}

void CheckSha256(std::string_view bytes, std::size_t split) {
    kdu::Sha256Digest expected{};
    EVP_Digest(bytes.data(), bytes.size(), expected.data(), nullptr, EVP_sha256(), nullptr);
    if (kdu::Sha256Of(bytes) != expected) std::abort();
    split = std::min(split, bytes.size());
    if (kdu::Sha256{}.Add(bytes.substr(0, split)).Add(bytes.substr(split)).Finish() != expected) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckSha256(input, data[0]);
    switch (data[0] % 3) {
        case 0:
            CheckPem(input);
            break;
        case 1:
            CheckChecksums(input);
            break;
        default:
            CheckDigestSlot(input);
            break;
    }
    return 0;
}
