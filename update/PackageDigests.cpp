#include "update/PackageDigests.h"

#include <algorithm>

namespace kdu {
namespace {

constexpr std::size_t kVersionAt = kDigestSlotMarker.size();
constexpr std::size_t kDigestsAt = kVersionAt + 4;
static_assert(kDigestsAt + 3 * sizeof(Sha256Digest) <= kDigestSlotSize);

}  // namespace

std::optional<PackageDigests> ReadDigestSlot(std::string_view slot,
                                             const std::wstring& programPath) {
    if (slot.size() != kDigestSlotSize || !slot.starts_with(kDigestSlotMarker)) {
        throw SystemError{Failure::ChecksumsMalformed, programPath};
    }
    const auto rest = slot.substr(kVersionAt);
    if (std::all_of(rest.begin(), rest.end(), [](char c) { return c == '\0'; })) {
        return std::nullopt;
    }
    std::uint32_t version = 0;
    for (std::size_t i = 4; i-- > 0;) {
        version = (version << 8) | static_cast<unsigned char>(slot[kVersionAt + i]);
    }
    if (version != kDigestSlotVersion) throw SystemError{Failure::ChecksumsMalformed, programPath};
    PackageDigests digests{};
    std::size_t at = kDigestsAt;
    for (auto& digest : digests) {
        std::copy_n(slot.begin() + static_cast<std::ptrdiff_t>(at), digest.size(), digest.begin());
        at += digest.size();
    }
    return digests;
}

std::optional<PackageDigests> ProgramDigests(RunningProgram& program) {
    // A program built without the slot (a test program) is as a plain build.
    const auto slot = program.DigestSlot();
    if (!slot) return std::nullopt;
    return ReadDigestSlot(*slot, program.Path());
}

std::string EmptyDigestSlot() {
    std::string slot(kDigestSlotSize, '\0');
    slot.replace(0, kDigestSlotMarker.size(), kDigestSlotMarker);
    return slot;
}

std::string FilledDigestSlot(const PackageDigests& digests) {
    std::string slot = EmptyDigestSlot();
    slot[kVersionAt] = static_cast<char>(kDigestSlotVersion);
    std::size_t at = kDigestsAt;
    for (const auto& digest : digests) {
        std::copy(digest.begin(), digest.end(), slot.begin() + static_cast<std::ptrdiff_t>(at));
        at += digest.size();
    }
    return slot;
}

void CheckSealed(const PackageDigests& digests, std::size_t which,
                 const std::optional<Bytes>& content, const std::wstring& path) {
    if (!content || Sha256Of(*content) != digests.at(which)) {
        throw SystemError{Failure::ChangedAfterPackaging, path};
    }
}

void CheckSealedMessages(RunningProgram& program, const std::optional<Bytes>& content,
                         const std::wstring& path) {
    if (const auto sealed = ProgramDigests(program)) {
        CheckSealed(*sealed, kSealedMessages, content, path);
    }
}

}  // namespace kdu
