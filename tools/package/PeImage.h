#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kdu::package {

// The headers of a PE file that the package builder looks at; every offset read is checked
// against the file's size.
struct PeImage {
    struct Directory {
        std::uint32_t address = 0;  // an RVA; the security directory's is a file offset
        std::uint32_t size = 0;
    };
    struct Section {
        std::uint32_t virtualSize = 0;
        std::uint32_t address = 0;
        std::uint32_t rawSize = 0;
        std::uint32_t rawAt = 0;
    };
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t subsystem = 0;
    Directory resources;
    Directory signature;  // the Authenticode certificate table
    std::vector<Section> sections;
    std::size_t checksumAt = 0;        // the file offset of the optional header's checksum
    std::size_t signatureEntryAt = 0;  // the file offset of the certificate table's entry
};

inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kImageFileDll = 0x2000;
inline constexpr std::uint16_t kSubsystemWindowsGui = 2;

// Whether a section's bytes lie within a file of this size.
inline bool WithinFile(const PeImage::Section& section, std::size_t fileSize) {
    return section.rawAt <= fileSize && section.rawSize <= fileSize - section.rawAt;
}

// Nothing if the file is not a PE file, or its headers run past its end.
std::optional<PeImage> ReadPeImage(std::string_view file);

// The signature in the certificate table, where the table is one entry as Windows writes it:
// revision 2.0, of type PKCS#7 signed data, its length the signature's padded with zeros to a
// multiple of 8; else nothing.
std::optional<std::string_view> OneSignatureEntry(std::string_view file, const PeImage& image);

}  // namespace kdu::package
