#include "tools/package/DigestSlot.h"

#include <algorithm>
#include <string_view>

#include "tools/package/PeImage.h"

namespace kdu::package {
namespace {

// The file bytes of the section that holds the resources; empty if there is none.
std::string_view ResourceSection(std::string_view exe, const PeImage& image) {
    const auto resources = image.resources.address;
    for (const auto& section : image.sections) {
        const bool holds =
            resources >= section.address &&
            resources - section.address < std::max(section.virtualSize, section.rawSize);
        if (!holds) continue;
        return WithinFile(section, exe.size()) ? exe.substr(section.rawAt, section.rawSize)
                                               : std::string_view{};
    }
    return {};
}

}  // namespace

void FillDigestSlot(std::string& exe, const PackageDigests& digests, const std::string& name,
                    Findings& findings) {
    const auto layout = ReadPeImage(exe);
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
