#include "update/FolderState.h"

#include <algorithm>

namespace kdu {
namespace {

bool Same(const std::optional<Bytes>& a, const std::optional<Bytes>& b) {
    return a && b && *a == *b;
}

}  // namespace

std::optional<Bytes> ReadIfThere(FileSystem& files, const std::wstring& path) {
    if (!files.Exists(path)) return std::nullopt;
    return files.ReadAll(path);
}

FolderContents ReadFolder(FileSystem& files, const CredentialPaths& paths) {
    FolderContents folder;
    folder.journal = ReadIfThere(files, paths.journal);
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        folder[i].staged = ReadIfThere(files, StagedPathOf(paths.swaps[i]));
        folder[i].previous = ReadIfThere(files, PreviousPathOf(paths.swaps[i]));
    }
    if (StateOf(folder) == FolderState::Settled) return folder;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        folder[i].installed = ReadIfThere(files, paths.swaps[i].installed);
        folder[i].backup = ReadIfThere(files, paths.swaps[i].backup);
    }
    return folder;
}

FolderState StateOf(const FolderContents& folder) {
    const auto all = [&](auto rule) { return std::ranges::all_of(folder.swaps, rule); };
    if (folder.journal) return FolderState::UpdateCutShort;
    const bool nothingLeft = all([](const SwapContents& s) { return !s.staged && !s.previous; });
    if (nothingLeft) return FolderState::Settled;
    if (!all([](const SwapContents& s) { return s.staged.has_value(); })) {
        return FolderState::LeftOver;
    }
    // A restore that started from installed pair X and backups Y (which it staged) renames each
    // backup over with X, then each installed file over with Y. Nothing renamed yet: every backup
    // is still what was staged. Everything renamed: every installed file is.
    const bool nothingRenamed = all([](const SwapContents& s) { return Same(s.backup, s.staged); });
    const bool allRenamed = all([](const SwapContents& s) { return Same(s.installed, s.staged); });
    if (nothingRenamed || allRenamed) return FolderState::LeftOver;
    // Cut short among the backups' renames: the installed files are still X, so each backup is
    // either renamed (holds its installed file's content) or still staged. A half that was not
    // installed has no backup once renamed (a restore puts whole backups back all the same).
    const auto neither = [](const SwapContents& s) { return !s.installed && !s.backup; };
    const bool amongBackups = all([&](const SwapContents& s) {
        return Same(s.backup, s.installed) || Same(s.backup, s.staged) || neither(s);
    });
    // Cut short among the installed files' renames: the backups all hold X, so each installed
    // file is either renamed (holds its staged content) or still its backup's.
    const bool amongInstalled = all([&](const SwapContents& s) {
        return Same(s.installed, s.staged) || Same(s.installed, s.backup) || neither(s);
    });
    return amongBackups || amongInstalled ? FolderState::RestoreCutShort : FolderState::LeftOver;
}

}  // namespace kdu
