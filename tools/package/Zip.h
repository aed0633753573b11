#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kdu::package {

struct ZipEntry {
    std::string name;  // inside the archive, with "/" between folders
    std::string content;
    std::uint16_t mode = 0644;  // Unix permissions, in the archive and the folder
};

// A zip archive of the entries, stored without compression (the files are small, the exe
// compresses poorly), with a fixed timestamp so that the same inputs give the same bytes, and each
// entry's Unix mode, which unzip restores.
std::string ZipArchive(const std::vector<ZipEntry>& entries);

std::uint32_t Crc32(std::string_view bytes);

}  // namespace kdu::package
