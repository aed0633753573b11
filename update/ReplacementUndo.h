#pragma once

// The undo of the steps: what a failed run puts back, so that it leaves the folder as it found it.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/Ports.h"
#include "update/ReplacementSteps.h"

namespace kdu {

// Puts the installed content of the first `installed` pending swaps back; which of the pair is
// new if that failed.
std::optional<std::wstring> PutBackupsBack(FileSystem& files, const CredentialPaths& paths,
                                           const Pending& pending, std::size_t installed,
                                           const MixedPairRemarks& remarks);

// The backups that the first `renamed` pending swaps replaced get their content back (one that
// was not there goes): a failed run leaves the backups as it found them where it can. Those it
// could not put back.
std::vector<std::wstring> PutOldBackupsBack(FileSystem& files, const Pending& pending,
                                            const std::vector<std::optional<Bytes>>& oldBackups,
                                            std::size_t renamed) noexcept;

}  // namespace kdu
