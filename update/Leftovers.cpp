#include "update/Leftovers.h"

#include "platform/DecimalText.h"
#include "update/FolderState.h"
#include "update/ReplacementSteps.h"

namespace kdu {
namespace {

// Where a staged file that is not to be installed goes: the first set-aside name that is free or
// already holds its content (a run that set it aside and then could not remove it).
struct SetAsidePlace {
    std::wstring path;
    bool holdsContent = false;
};

SetAsidePlace SetAsidePlaceFor(FileSystem& files, const Swap& swap, const Bytes& content) {
    const auto first = swap.installed + std::wstring{kSetAsideSuffix};
    for (int n = 1;; ++n) {
        auto path = n == 1 ? first : first + L"-" + DecimalText(n);
        if (!files.Exists(path)) return {std::move(path), false};
        if (files.ReadAll(path) == content) return {std::move(path), true};
    }
}

// Each staged file goes: removed where its content is under another name, else copied to a
// set-aside name first, so that a content that may be the only copy of a key is never lost.
// Throws if one cannot go: nothing else may change while a staged file could be taken for a
// restore's. The set-aside names, new in this run.
std::vector<std::wstring> ClearStaging(FileSystem& files, const CredentialPaths& paths,
                                       const FolderContents& folder) {
    std::vector<std::wstring> setAside;
    try {
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& [installed, backup, staged] = folder[i];
            if (!staged) continue;
            const auto path = StagedPathOf(paths.swaps[i]);
            if (installed != staged && backup != staged) {
                auto place = SetAsidePlaceFor(files, paths.swaps[i], *staged);
                if (!place.holdsContent) {
                    auto copy = files.WriteNewFile(*staged, TemporaryFor(path), path);
                    copy->RenameOver(place.path);
                    copy->Flush();
                    setAside.push_back(std::move(place.path));
                }
            }
            files.Remove(path);
        }
    } catch (const SystemError& error) {
        throw SayingWhereSetAside(error, setAside);
    }
    return setAside;
}

// Puts the folder back as the restore cut short found it: each installed file gets the content
// the restore moved to its backup, then each backup its staged content. Every content overwritten
// is under another name: a kill at any moment leaves a restore still cut short, or none.
void RollBack(FileSystem& files, const CredentialPaths& paths, const FolderContents& folder) {
    Pending installedBack, backupsBack;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const auto& [installed, backup, staged] = folder[i];
        const Swap* swap = &paths.swaps[i];
        // Renamed: the installed file holds the staged content and the backup does not.
        if (backup && installed == staged && backup != staged) {
            installedBack.push_back({swap, *installed, &*backup, false});
        }
        if (backup != staged) backupsBack.push_back({swap, *staged, nullptr});
    }
    CarryOut(files, paths, installedBack, kRestoreRemarks);
    CarryOut(files, paths, backupsBack, kRestoreRemarks);
}

// A restore renames over all four names, so between the renames a content would be in a
// temporary file alone. The pair it puts back is therefore staged first, in files that only a
// restore's last step removes. A restore cut short is completed or rolled back here by the same
// steps; a staged file that is not a cut-short restore's is never installed. Afterwards no staged
// file is there, unless a restore completed it and could not remove it (it is then a copy of the
// installed file, which the next run removes).
Leftovers CompleteOrClear(FileSystem& files, const CredentialPaths& paths, CutShortRestore what) {
    const auto folder = ReadFolder(files, paths);
    switch (StateOf(folder)) {
        case FolderState::Settled:
            return {};
        case FolderState::StagingLeftOver:
            return {false, ClearStaging(files, paths, folder)};
        case FolderState::RestoreCutShort:
            break;
    }
    if (what == CutShortRestore::RollBack) {
        RollBack(files, paths, folder);
        ClearStaging(files, paths, ReadFolder(files, paths));
        return {};
    }
    const auto& certificate = *folder[kCertificateSwap].staged;
    const auto& privateKey = *folder[kPrivateKeySwap].staged;
    CarryOut(files, paths, PendingSwaps(files, paths, {&certificate, &privateKey}),
             kRestoreRemarks);
    RemoveStagedPair(files, paths);
    return {true, {}};
}

}  // namespace

// Each one on its own, and quietly: they are copies of the pair in place once the swap is done,
// or of the backups if it never began; a later run removes what stays.
void RemoveStagedPair(FileSystem& files, const CredentialPaths& paths) noexcept {
    for (const auto& swap : paths.swaps) {
        try {
            files.Remove(StagedPathOf(swap));
        } catch (...) {
        }
    }
}

// A failure after staged files were set aside says where they are, as a success does.
SystemError SayingWhereSetAside(const SystemError& error,
                                const std::vector<std::wstring>& setAside) {
    if (setAside.empty()) return error;
    std::wstring remark = error.Remark();
    if (!remark.empty()) remark += L"\n\n";
    return error.Remarked(remark + SetAsideText(setAside));
}

// What an interrupted run left goes first, under the lock, so that no run in progress loses it:
// temporary files (each a copy of a file under another name) are removed, then a restore cut
// short is completed or rolled back, or staged files left over go.
Leftovers SettleLeftovers(FileSystem& files, const CredentialPaths& paths, CutShortRestore what) {
    if (auto failure = RemoveTemporaryFiles(files, paths)) throw *failure;
    return CompleteOrClear(files, paths, what);
}

}  // namespace kdu
