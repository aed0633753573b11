#include "tools/package/Zip.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace kdu::package {
namespace {

constexpr std::uint16_t kVersion = 20;                        // 2.0: stored files and folders
constexpr std::uint16_t kMadeOnUnix = 3 << 8;                 // external attributes: st_mode
constexpr std::uint32_t kRegularFile = 0100000;               // S_IFREG
constexpr std::uint16_t kUtf8Names = 0x0800;                  // general purpose flag bit 11
constexpr std::uint16_t kDosTime = 0;                         // 00:00:00
constexpr std::uint16_t kDosDate = (46 << 9) | (1 << 5) | 1;  // 2026-01-01

void Put16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::uint32_t Checked32(std::size_t value) {
    if (value > 0xFFFFFFFEu) throw std::length_error("zip archive over 4 GB");
    return static_cast<std::uint32_t>(value);
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit)
                value = (value >> 1) ^ ((value & 1) ? 0xEDB88320u : 0);
            entries[i] = value;
        }
        return entries;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = (crc >> 8) ^ table[(crc ^ static_cast<unsigned char>(byte)) & 0xFF];
    return crc ^ 0xFFFFFFFFu;
}

std::string ZipArchive(const std::vector<ZipEntry>& entries) {
    std::string archive;
    std::string directory;
    for (const auto& entry : entries) {
        const auto offset = Checked32(archive.size());
        const auto crc = Crc32(entry.content);
        const auto size = Checked32(entry.content.size());
        const auto nameLength = Checked32(entry.name.size());

        Put32(archive, 0x04034B50);  // local file header
        Put16(archive, kVersion);
        Put16(archive, kUtf8Names);
        Put16(archive, 0);  // stored
        Put16(archive, kDosTime);
        Put16(archive, kDosDate);
        Put32(archive, crc);
        Put32(archive, size);
        Put32(archive, size);
        Put16(archive, nameLength);
        Put16(archive, 0);
        archive += entry.name;
        archive += entry.content;

        Put32(directory, 0x02014B50);  // central directory header
        Put16(directory, kMadeOnUnix | kVersion);
        Put16(directory, kVersion);
        Put16(directory, kUtf8Names);
        Put16(directory, 0);
        Put16(directory, kDosTime);
        Put16(directory, kDosDate);
        Put32(directory, crc);
        Put32(directory, size);
        Put32(directory, size);
        Put16(directory, nameLength);
        Put16(directory, 0);                                  // extra field
        Put16(directory, 0);                                  // comment
        Put16(directory, 0);                                  // disk
        Put16(directory, 0);                                  // internal attributes
        Put32(directory, (kRegularFile | entry.mode) << 16);  // external attributes
        Put32(directory, offset);
        directory += entry.name;
    }
    const auto directoryOffset = Checked32(archive.size());
    archive += directory;
    Put32(archive, 0x06054B50);  // end of central directory
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, Checked32(entries.size()));
    Put16(archive, Checked32(entries.size()));
    Put32(archive, Checked32(directory.size()));
    Put32(archive, directoryOffset);
    Put16(archive, 0);
    return archive;
}

}  // namespace kdu::package
