#pragma once

// The package's digests, carried inside the program itself. The package builder writes the
// SHA-256 of data1.bin, data2.bin and data3.bin into a fixed-size resource of its copy of the exe
// and then signs it, so the exe's Authenticode signature covers them: a package whose data files
// were swapped, together with a rewritten or deleted SHA256SUMS, no longer matches the program.
//
// The slot's layout: kDigestSlotMarker, a format version (32-bit little-endian), the three
// digests in data-file order, then zeros to kDigestSlotSize. A plain build leaves everything
// after the marker zero: the slot is empty, and the package is checked as before.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Ports.h"

namespace kdu {

inline constexpr std::string_view kDigestSlotMarker = "KDU-PACKAGE-SUMS";
inline constexpr std::size_t kDigestSlotSize = 128;
inline constexpr std::uint32_t kDigestSlotVersion = 1;

// The digests of data1.bin, data2.bin and data3.bin, in that order.
using PackageDigests = std::array<Sha256Digest, 3>;
inline constexpr std::size_t kSealedCertificate = 0;
inline constexpr std::size_t kSealedPrivateKey = 1;
inline constexpr std::size_t kSealedMessages = 2;

// What a slot holds: nothing if it is empty. Throws Failure::ChecksumsMalformed, naming
// programPath, for a slot that is neither empty nor of this format.
std::optional<PackageDigests> ReadDigestSlot(std::string_view slot,
                                             const std::wstring& programPath);

// The digests the running program carries: ReadDigestSlot of its own slot.
std::optional<PackageDigests> ProgramDigests(RunningProgram& program);

// The bytes of an empty slot, as a plain build carries it.
std::string EmptyDigestSlot();

// The bytes of a filled slot (the package builder writes them over the empty one).
std::string FilledDigestSlot(const PackageDigests& digests);

// Refuses a data file that is not the one the package was made with (a missing one counts as
// changed): Failure::ChangedAfterPackaging, naming the file.
void CheckSealed(const PackageDigests& digests, std::size_t which,
                 const std::optional<Bytes>& content, const std::wstring& path);

// Refuses a message file that differs from the digest the program carries, if it carries any.
void CheckSealedMessages(RunningProgram& program, const std::optional<Bytes>& content,
                         const std::wstring& path);

}  // namespace kdu
