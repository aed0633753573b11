#pragma once

// What an update keeps on disk while it changes the backups and the pair, so that a run cut short
// at any moment (a kill, a forced end, a power cut: on NTFS any flush on the volume can make the
// backups' renames durable) loses neither the pair installed nor the pair the backups held: each
// old backup is kept under its previous name (PreviousPathOf), and a journal says, for each half,
// what became of its backup and what the run installs. The next run completes the update where
// the pair is in place, and otherwise rolls it back, before it does anything else.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ports.h"
#include "update/FolderState.h"
#include "update/ReplacementSteps.h"

namespace kdu {

struct JournalHalf {
    enum class Backup : char {
        Untouched,  // this run does not write this half's backup
        Kept,       // the old backup is kept under its previous name
        None,       // there was no backup; this run makes one
    };
    Backup backup = Backup::Untouched;
    std::optional<Sha256Digest> incoming;  // what the run installs; nothing if it leaves the half
};
struct UpdateJournal {
    std::array<JournalHalf, 2> halves;  // the certificate's, then the key's
    // The new pair is in place and flushed: the update has completed, whatever the folder holds
    // since (another program may have put its own pair in place); only the cleaning up is left.
    bool done = false;
};

// The journal as a file holds it, one line a half, then "done" once completed; nothing for a
// text that is not one.
std::string JournalText(const UpdateJournal& journal);
std::optional<UpdateJournal> ParseJournal(std::string_view text);

// Keeps the old backups the pending swaps replace and writes the journal, before the first
// rename; nothing where no backup changes. The journal written, if one was.
std::optional<UpdateJournal> BeginJournal(FileSystem& files, const CredentialPaths& paths,
                                          const Pending& pending);

// Says in the journal that the update has completed: its pair is in place and flushed.
void MarkCompleted(FileSystem& files, const CredentialPaths& paths, UpdateJournal journal);

// An update cut short (the journal is there; folder as ReadFolder read it): completed where the
// journal says so, or where every half it installs holds its new content (the old backups then
// go), rolled back otherwise:
// each installed half that holds its new content gets back the content its backup took, then
// each backup its old content. Where the folder changed since (another program took a half
// away or put its own file in place), nothing is put back: the backups stay as they are, and an
// old backup the journal kept is set aside. The journal goes last. The set-aside names.
std::vector<std::wstring> SettleCutShortUpdate(FileSystem& files, Pause& pause,
                                               const CredentialPaths& paths,
                                               const FolderContents& folder);

}  // namespace kdu
