#pragma once

// SHA-256 (FIPS 180-4), computed here rather than by CryptoAPI: on a Windows 7 without
// KB2533623, resolving CryptoAPI's forwarders loads cryptsp.dll by name, from the program's own
// folder (Downloads) first.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kdu {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The digest of bytes given in any number of pieces.
class Sha256 {
public:
    Sha256& Add(std::string_view bytes) noexcept;
    Sha256Digest Finish() noexcept;

private:
    void Compress(const std::uint8_t* block) noexcept;

    std::array<std::uint32_t, 8> state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> block_{};
    std::size_t filled_ = 0;    // bytes waiting in block_
    std::uint64_t length_ = 0;  // bytes added in all
};

// The digest of bytes in one piece.
Sha256Digest Sha256Of(std::string_view bytes) noexcept;

}  // namespace kdu
