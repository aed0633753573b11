#pragma once

// What the install folder holds between runs, as far as the pair is concerned, and the state
// that makes it: whether an update or a restore was cut short and is to be completed or rolled
// back, or whether what a restore staged is left over and is never to be installed.

#include <array>
#include <optional>
#include <string>

#include "platform/Ports.h"
#include "update/CredentialReplacement.h"

namespace kdu {

// The contents of one swap's names; nothing where there is no such file.
struct SwapContents {
    std::optional<Bytes> installed;
    std::optional<Bytes> backup;
    std::optional<Bytes> staged;    // a restore's copy of the backup it puts back
    std::optional<Bytes> previous;  // an update's copy of the backup it replaces
};
struct FolderContents {
    std::array<SwapContents, 2> swaps;  // the certificate's, then the key's
    std::optional<Bytes> journal;       // an update's, while it changes the folder

    SwapContents& operator[](std::size_t i) { return swaps[i]; }
    const SwapContents& operator[](std::size_t i) const { return swaps[i]; }
};

enum class FolderState {
    // Nothing a run left is there: an update or a restore starts from here.
    Settled,
    // An update was cut short after it began to change the backups (its journal is there): the
    // old backups are under their previous names. The next run completes it where the pair is in
    // place, and rolls it back otherwise (UpdateJournal.h).
    UpdateCutShort,
    // A restore was cut short after its first rename and before its last: each file holds what
    // that restore's own steps put or would put there (the backups renamed over first, then the
    // installed files). Completing it installs the staged pair and loses no content.
    RestoreCutShort,
    // Files a run left that are not to be used: staged files alone, a staged pair from a restore
    // that renamed nothing yet or renamed everything, or one that the folder has changed under
    // since it was staged (the product or an administrator put another pair in place); previous
    // backups without a journal. Each goes before anything else changes: removed where its
    // content is under another name, else set aside.
    LeftOver,
};

// Reads the journal, the staged and the previous files and, where there are any, the installed
// files and the backups (a run reads the installed pair once otherwise). Temporary files are not
// read: each is a copy of a file under another name.
FolderContents ReadFolder(FileSystem& files, const CredentialPaths& paths);

// A file's content, or nothing where it is not there.
std::optional<Bytes> ReadIfThere(FileSystem& files, const std::wstring& path);

FolderState StateOf(const FolderContents& folder);

}  // namespace kdu
