// libFuzzer target: the DER reader, on what it reads from a package's files: a certificate, a
// private key of each PEM label, and EC parameters. Any input is refused or read, within bounds.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "update/PairCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t kind = data[0] % 4;
    const kdu::der::Bytes input{data + 1, size - 1};
    static constexpr std::string_view kLabels[] = {"PRIVATE KEY", "RSA PRIVATE KEY",
                                                   "EC PRIVATE KEY"};
    if (kind == 3) {
        kdu::CertificateFromDer(input);
        return 0;
    }
    // The EC parameters from the input's second half, the key from its first.
    const auto half = input.size() / 2;
    const auto key = kdu::PrivateKeyFromDer(kLabels[kind], input.first(half), input.subspan(half));
    const auto certificate = kdu::CertificateFromDer(input.subspan(half));
    if (key && certificate) kdu::CompareKeys(certificate->key, *key);
    return 0;
}
