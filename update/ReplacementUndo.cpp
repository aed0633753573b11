#include "update/ReplacementUndo.h"

#include <algorithm>
#include <array>
#include <exception>

#include "update/FolderState.h"

namespace kdu {

// Puts the installed content of the first `installed` pending swaps back; which of the pair is
// new if that failed.
std::optional<std::wstring> PutBackupsBack(FileSystem& files, const CredentialPaths& paths,
                                           const Pending& pending, std::size_t installed,
                                           const MixedPairRemarks& remarks) {
    // A file left out of the run already held its new content; one in it is old unless its
    // rename stands and its backup could not be put back.
    std::array<bool, 2> isNew{true, true};
    const auto of = [&](const Swap* swap) -> bool& {
        return isNew[static_cast<std::size_t>(swap - paths.swaps.data())];
    };
    for (const auto& p : pending) of(p.swap) = false;
    for (std::size_t i = 0; i < installed; ++i) {
        if (!pending[i].Installs()) continue;
        const auto& target = pending[i].swap->installed;
        try {
            if (pending[i].origin == PendingSwap::Origin::Absent) {
                files.Remove(target);  // it was not there
            } else {
                WriteInPlace(files, pending[i].installedContent, target, target);
            }
        } catch (const std::exception&) {
            of(pending[i].swap) = true;
        }
    }
    // A half that only was backed up belongs to both pairs: the pair cannot be mixed.
    if (!std::ranges::all_of(pending, &PendingSwap::Installs)) return std::nullopt;
    if (isNew[kCertificateSwap] == isNew[kPrivateKeySwap]) return std::nullopt;
    return std::wstring{isNew[kCertificateSwap] ? remarks.certificateNewKeyOld
                                                : remarks.certificateOldKeyNew};
}

// The backups that the first `renamed` pending swaps replaced get their content back (one that
// was not there goes): a failed run leaves the backups as it found them where it can. Those it
// could not put back.
std::vector<std::wstring> PutOldBackupsBack(FileSystem& files, const Pending& pending,
                                            const std::vector<std::optional<Bytes>>& oldBackups,
                                            std::size_t renamed) noexcept {
    std::vector<std::wstring> notBack;
    for (std::size_t i = 0; i < renamed; ++i) {
        if (!pending[i].backsUp) continue;
        const auto& backup = pending[i].swap->backup;
        try {
            if (!oldBackups[i]) {
                files.Remove(backup);
            } else if (ReadIfThere(files, backup) != oldBackups[i]) {
                WriteInPlace(files, *oldBackups[i], backup, ModelFor(files, *pending[i].swap));
            }
        } catch (...) {
            try {
                notBack.push_back(backup);
            } catch (...) {
            }
        }
    }
    return notBack;
}

}  // namespace kdu
