#include "tools/package/DigestSlot.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace kdu::package {
namespace {

// Offsets in a PE file: the COFF header after "PE\0\0", then the optional header, whose data
// directories follow its fixed part (PE32 or PE32+), then the section table.
constexpr std::size_t kPeOffsetAt = 0x3C;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::size_t kResourceDirectory = 2;
constexpr std::size_t kSecurityDirectory = 4;
constexpr std::size_t kSectionHeaderSize = 40;

// A little-endian number of the file, or nothing where the file ends before it.
std::optional<std::uint32_t> Read(std::string_view file, std::size_t at, std::size_t size) {
    if (at > file.size() || size > file.size() - at) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(file[at + i]);
    }
    return value;
}

struct Directory {
    std::uint32_t address = 0;  // an RVA; the security directory's is a file offset
    std::uint32_t size = 0;
};

struct Layout {
    Directory resources;
    Directory signature;
    std::size_t sections = 0;  // where the section table starts
    std::uint32_t sectionCount = 0;
};

std::optional<Layout> ReadLayout(std::string_view exe) {
    const auto pe = Read(exe, kPeOffsetAt, 4);
    if (!pe || exe.substr(*pe, 4) != std::string_view{"PE\0\0", 4}) return std::nullopt;
    const std::size_t coff = *pe + 4;
    const std::size_t optional = coff + kCoffHeaderSize;
    const auto sectionCount = Read(exe, coff + 2, 2);
    const auto optionalSize = Read(exe, coff + 16, 2);
    const auto magic = Read(exe, optional, 2);
    if (!sectionCount || !optionalSize || !magic || (*magic != kPe32 && *magic != kPe32Plus)) {
        return std::nullopt;
    }
    const std::size_t directories = optional + (*magic == kPe32 ? 96 : 112);
    const auto count = Read(exe, directories - 4, 4);
    if (!count || *count <= kSecurityDirectory) return std::nullopt;
    const auto directory = [&](std::size_t index) -> std::optional<Directory> {
        const auto address = Read(exe, directories + 8 * index, 4);
        const auto size = Read(exe, directories + 8 * index + 4, 4);
        if (!address || !size) return std::nullopt;
        return Directory{*address, *size};
    };
    const auto resources = directory(kResourceDirectory);
    const auto signature = directory(kSecurityDirectory);
    if (!resources || !signature) return std::nullopt;
    return Layout{*resources, *signature, optional + *optionalSize, *sectionCount};
}

// The file bytes of the section that holds the resources; empty if there is none.
std::string_view ResourceSection(std::string_view exe, const Layout& layout) {
    for (std::uint32_t i = 0; i < layout.sectionCount; ++i) {
        const std::size_t header = layout.sections + i * kSectionHeaderSize;
        const auto virtualSize = Read(exe, header + 8, 4);
        const auto address = Read(exe, header + 12, 4);
        const auto rawSize = Read(exe, header + 16, 4);
        const auto rawAt = Read(exe, header + 20, 4);
        if (!virtualSize || !address || !rawSize || !rawAt) return {};
        const bool holds = layout.resources.address >= *address &&
                           layout.resources.address - *address < std::max(*virtualSize, *rawSize);
        if (!holds) continue;
        if (*rawAt > exe.size() || *rawSize > exe.size() - *rawAt) return {};
        return exe.substr(*rawAt, *rawSize);
    }
    return {};
}

}  // namespace

void FillDigestSlot(std::string& exe, const PackageDigests& digests, const std::string& name,
                    Findings& findings) {
    const auto layout = ReadLayout(exe);
    if (!layout) {
        findings.Error(name, 0, "not a Windows executable");
        return;
    }
    if (layout->signature.address != 0 || layout->signature.size != 0) {
        findings.Error(name, 0,
                       "is already signed: the package's digests cannot be written into it "
                       "without breaking that signature (give the unsigned build)");
        return;
    }
    const auto section = ResourceSection(exe, *layout);
    std::size_t slotAt = std::string_view::npos;
    int slots = 0;
    for (auto at = section.find(kDigestSlotMarker); at != std::string_view::npos;
         at = section.find(kDigestSlotMarker, at + 1)) {
        slotAt = static_cast<std::size_t>(section.data() - exe.data()) + at;
        ++slots;
    }
    if (slots != 1 || exe.size() - slotAt < kDigestSlotSize) {
        findings.Error(name, 0,
                       "has " + std::to_string(slots) +
                           " package digest slots, not one: not a build of this "
                           "KestovaDesktopUpdater");
        return;
    }
    exe.replace(slotAt, kDigestSlotSize, FilledDigestSlot(digests));
    try {
        if (ReadDigestSlot(std::string_view{exe}.substr(slotAt, kDigestSlotSize), {}) == digests) {
            return;
        }
    } catch (const SystemError&) {
    }
    findings.Error(name, 0, "the package digests did not read back as written");
}

}  // namespace kdu::package
