#pragma once

// The steps the update and the restore share: what is pending, which backups it takes, and the
// copies written beside their targets and renamed into place (CredentialReplacement.cpp). Used by
// the files of update/ only.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ports.h"
#include "update/CredentialReplacement.h"

namespace kdu {

// What an undo that failed says, by which of the pair is new.
struct MixedPairRemarks {
    std::wstring_view certificateNewKeyOld;
    std::wstring_view certificateOldKeyNew;
};
inline constexpr MixedPairRemarks kUpdateRemarks{kCertificateNewKeyOld, kCertificateOldKeyNew};
inline constexpr MixedPairRemarks kRestoreRemarks{kCertificateBackKeyNot, kKeyBackCertificateNot};

// The name a new file is written under beside its target, until it is renamed into place.
std::wstring TemporaryFor(const std::wstring& target);

// What a new file for one of swap's names is made like: its installed file, else its backup, else
// what a restore staged for it (the first of them that is there).
std::wstring ModelFor(FileSystem& files, const Swap& swap);

// Writes content beside target, made like model, renames it over target and flushes it: the
// file under that name is either what it was or content, whatever happens.
void WriteInPlace(FileSystem& files, const Bytes& content, const std::wstring& target,
                  const std::wstring& model);

// A swap the run makes, with the installed file's content as read once: compared with the
// incoming file, then written as the backup, and put back by the undo. Without an incoming
// file, only the backup is written: the installed file stays, and is its pair's other half.
struct PendingSwap {
    // Where installedContent comes from.
    enum class Origin : char {
        Installed,  // the installed file, as read: it must still hold it before the first rename
        Elsewhere,  // a roll-back's content for the backup, not the installed file's
        Absent,     // there is no installed file (a restore): the backup goes, nothing is kept
    };
    const Swap* swap;
    Bytes installedContent;
    const Bytes* incoming;
    bool backsUp = true;
    Origin origin = Origin::Installed;

    bool Installs() const { return incoming != nullptr; }
};
using Pending = std::vector<PendingSwap>;

// The contents to put in place of the certificate and of the key.
using PairContents = std::array<const Bytes*, 2>;

// What is to change: an installed file that already holds its new content is left alone, and so
// is its backup. Only reads.
Pending PendingSwaps(FileSystem& files, const CredentialPaths& paths,
                     const PairContents& incomingFor);
bool AnyInstalls(const Pending& pending);

// Which halves the backups take, so that they are always a whole pair, and the one from before.
Pending ChooseBackups(FileSystem& files, const CredentialPaths& paths,
                      const PairContents& incomingFor, Pending pending);

// Fails where User Account Control keeps a copy of an installed file (Failure::VirtualStoreCopy,
// the copy's path): a product without a manifest reads that copy, and would not see the pair
// a run puts in place. Only reads.
void CheckNoVirtualStoreCopies(FileSystem& files, const CredentialPaths& paths);

// Fails unless the files the pending swaps rename over can be renamed over now.
void CheckBeforeAnyChange(FileSystem& files, const Pending& pending);

// Puts the pending contents in place, each installed file kept as its backup; a failure leaves
// the folder as it was where it can, and says which half is new where it cannot. From its first
// rename on, no message is handled (MessagesHeld). The caller has checked the pending swaps
// (CheckBeforeAnyChange).
void CarryOut(FileSystem& files, Pause& pause, const CredentialPaths& paths, const Pending& pending,
              const MixedPairRemarks& remarks);

}  // namespace kdu
