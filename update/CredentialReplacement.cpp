// The update: the package's pair put in place of the installed one, each half kept as its backup;
// and the steps it shares with the restore (ReplacementSteps.h).

#include "update/CredentialReplacement.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "platform/Paths.h"
#include "update/Detection.h"
#include "update/FolderState.h"
#include "update/HeldRunLock.h"
#include "update/Leftovers.h"
#include "update/PackageCheck.h"
#include "update/PairCheck.h"
#include "update/PatientFileSystem.h"
#include "update/ReplacementSteps.h"
#include "update/ReplacementUndo.h"
#include "update/UpdateJournal.h"

namespace kdu {
namespace {

// The path must name the file itself, and its only name: renaming over a symbolic link or a
// junction would replace the link and leave the file it points to, and over one of several
// hard links would leave the other names with the old content.
void CheckReplaceableAsItself(FileSystem& files, const std::wstring& installed) {
    const FileFacts facts = files.Inspect(installed);
    if (IsNameSurrogate(facts.reparseTag)) throw SystemError{Failure::SymbolicLink, installed};
    if (facts.links > 1) throw SystemError{Failure::HardLink, installed};
}

// A pending swap's temporary copies (the backup, and the installed file unless it only backs up),
// open until they are in place; and the hold on its installed file, until it is renamed over.
struct SwapCopies {
    std::unique_ptr<NewFile> backup;
    std::unique_ptr<NewFile> installed;
    std::unique_ptr<HeldFile> hold;
};
using Copies = std::vector<SwapCopies>;

// Whether a certificate and a key are one pair. A key that carries no public part to compare
// (Ed25519, an EC key without its point) is taken as its certificate's: files installed together
// are one pair unless they can be shown not to be.
bool IsPair(const std::optional<Bytes>& certificate, const std::optional<Bytes>& key) {
    if (!certificate || !key) return false;
    const auto leaf = ReadLeafCertificate(*certificate);
    const auto publicKey = ReadPrivateKey(*key);
    return leaf && publicKey && CompareKeys(leaf->key, *publicKey) != KeyMatch::Different;
}

Copies WriteTemporaryCopies(FileSystem& files, const Pending& pending) {
    Copies copies;
    for (const auto& p : pending) {
        const bool absent = p.origin == PendingSwap::Origin::Absent;
        // A file that is not there has no likeness: the one made in its place is like its backup.
        const auto model = ModelFor(files, *p.swap);
        std::unique_ptr<NewFile> backup;
        if (p.backsUp && !absent) {
            backup = files.WriteNewFile(p.installedContent, TemporaryFor(p.swap->backup), model);
        }
        std::unique_ptr<NewFile> incoming;
        if (p.Installs()) {
            incoming = files.WriteNewFile(*p.incoming, TemporaryFor(p.swap->installed), model);
        }
        copies.push_back({std::move(backup), std::move(incoming), nullptr});
    }
    return copies;
}

// Just before the first rename, each installed file the swaps replace or back up is held, so
// that no other program writes it meanwhile, and must still hold what was read (and is backed
// up): a pair another program put in place during the run is never lost, nor backed up as one
// half beside the other pair's. Otherwise nothing changes, and a later run settles it. Each hold
// is given up right before the rename over its file (a held file cannot be renamed over), and the
// file renamed into place stays open with no sharing until it is flushed.
void HoldUnchanged(FileSystem& files, const Pending& pending, Copies& copies) {
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const auto& p = pending[i];
        if (p.origin != PendingSwap::Origin::Installed) continue;
        auto hold = files.Hold(p.swap->installed);
        if (hold->Content() != p.installedContent) {
            throw SystemError{Failure::ChangedDuringRun, p.swap->installed};
        }
        copies[i].hold = std::move(hold);
    }
}

// What the error adds where a backup could not get its content back: which, what it holds now,
// and that the next run puts it back.
std::wstring BackupsNotPutBack(const std::vector<std::wstring>& backups) {
    std::wstring text{kBackupNotPutBack};
    for (std::size_t i = 0; i < backups.size(); ++i) {
        if (i > 0) text += L"、";
        text += backups[i];
    }
    return text + std::wstring{kBackupNotPutBackEnd};
}

// Renames the new files into place in order, then flushes them through the handles that wrote
// them: the closing lines say the pair is new only once it is on the disk (a rename within one
// volume is not written through), and no other program's open of the new file can fail a
// finished replacement. If a step fails, the files already renamed get their content back, so
// that the pair is never mixed; if that fails too, the error says so.
void InstallTemporaryCopies(FileSystem& files, const CredentialPaths& paths, const Pending& pending,
                            Copies& copies, const MixedPairRemarks& remarks) {
    std::size_t installed = 0;
    const auto undo = [&] {
        copies.clear();  // a file open here cannot be renamed over
        return PutBackupsBack(files, paths, pending, installed, remarks);
    };
    try {
        // The pair's renames follow one another with nothing between them: the first may be
        // tried again (nothing installed has changed yet), the second is tried once.
        bool first = true;
        for (; installed < pending.size(); ++installed) {
            if (!pending[installed].Installs()) continue;
            auto& file = *copies[installed].installed;
            const auto& target = pending[installed].swap->installed;
            copies[installed].hold.reset();
            if (first) {
                file.RenameOver(target);
            } else {
                file.RenameOverAtOnce(target);
            }
            first = false;
        }
        for (const auto& c : copies) {
            if (c.installed) c.installed->Flush();
        }
    } catch (const SystemError& error) {
        // The first failure is the one to report; it happened first.
        if (auto mixed = undo()) throw error.Remarked(std::move(*mixed));
        throw;
    } catch (...) {
        undo();
        throw;
    }
}

// The update's change, with each old backup kept on disk and a journal (UpdateJournal.h) until the
// new pair is in place and flushed. A failure the undo could not wholly mend is settled at once
// where it can be (the error then needs no remark); where it cannot, the journal stays for the
// next run, and the error says what is where. Anything set aside on the way.
std::vector<std::wstring> ChangeKeepingOldBackups(FileSystem& files, Pause& pause,
                                                  PairRecord& record, const CredentialPaths& paths,
                                                  const Pending& pending) {
    CheckBeforeAnyChange(files, pending);  // a refused run writes nothing, not even a journal
    if (!pending.empty()) record.Forget();
    const auto journal = BeginJournal(files, paths, pending);
    if (!journal) {
        CarryOut(files, pause, paths, pending, kUpdateRemarks);
        return {};
    }
    const auto settle = [&] {
        return SettleCutShortUpdate(files, pause, paths, ReadFolder(files, paths));
    };
    try {
        CarryOut(files, pause, paths, pending, kUpdateRemarks);
    } catch (const SystemError& error) {
        try {
            settle();
        } catch (...) {
            throw error;
        }
        throw error.Remarked({});
    } catch (...) {
        try {
            settle();
        } catch (...) {
        }
        throw;
    }
    // The pair is in place: the next run removes what stays, should this not.
    try {
        MarkCompleted(files, paths, *journal);
    } catch (...) {
        // Unmarked, the journal still says it: the installed files hold what it installs.
    }
    try {
        return settle();
    } catch (...) {
        return {};
    }
}

}  // namespace

std::wstring ModelFor(FileSystem& files, const Swap& swap) {
    for (const auto& path : {swap.installed, swap.backup, StagedPathOf(swap)}) {
        if (files.Exists(path)) return path;
    }
    return swap.installed;
}

std::wstring TemporaryFor(const std::wstring& target) {
    return target + std::wstring{kTemporarySuffix};
}

void WriteInPlace(FileSystem& files, const Bytes& content, const std::wstring& target,
                  const std::wstring& model) {
    const auto file = files.WriteNewFile(content, TemporaryFor(target), model);
    file->RenameOver(target);
    file->Flush();
}

// What is to change: an installed file that already holds its new content is left alone, and so
// is its backup. Only reads.
Pending PendingSwaps(FileSystem& files, const CredentialPaths& paths,
                     const PairContents& incomingFor) {
    Pending pending;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const Swap& swap = paths.swaps[i];
        auto installed = files.ReadAll(swap.installed);
        if (installed == *incomingFor[i]) continue;
        CheckReplaceableAsItself(files, swap.installed);
        pending.push_back({&swap, std::move(installed), incomingFor[i]});
    }
    return pending;
}

bool AnyInstalls(const Pending& pending) {
    return std::ranges::any_of(pending, &PendingSwap::Installs);
}

// Which halves the backups take, so that they are always a whole pair, and the one from before:
// - where the installed files are one pair, both: also the half that stays (a certificate renewed
//   with its key);
// - where they are not, and the backups are a pair of which one half is installed (what an
//   interrupted run leaves: one half renamed, beside the backups it made), none: the backups
//   are the pair from before, and the installed half that is not theirs is the package's;
// - else the halves that change, each of which may be the only copy of its content.
// A run that finds nothing to install changes no backup, unless a run was cut short among the
// backups' renames (the installed files are one pair, and only one backup is its half): it
// finishes them.
Pending ChooseBackups(FileSystem& files, const CredentialPaths& paths,
                      const PairContents& incomingFor, Pending pending) {
    std::array<std::optional<Bytes>, 2> installed, backups;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const auto found = std::ranges::find(pending, &paths.swaps[i], &PendingSwap::swap);
        installed[i] = found != pending.end() ? found->installedContent : *incomingFor[i];
    }
    const bool installedArePair = IsPair(installed[kCertificateSwap], installed[kPrivateKeySwap]);
    if (installedArePair && pending.size() == paths.swaps.size()) return pending;
    if (!installedArePair && !AnyInstalls(pending)) return pending;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        backups[i] = ReadIfThere(files, paths.swaps[i].backup);
    }
    const bool backupsArePair = IsPair(backups[kCertificateSwap], backups[kPrivateKeySwap]);
    const bool halfOfTheBackups = installed[kCertificateSwap] == backups[kCertificateSwap] ||
                                  installed[kPrivateKeySwap] == backups[kPrivateKeySwap];
    if (!installedArePair) {
        if (backupsArePair && halfOfTheBackups) {
            for (auto& p : pending) p.backsUp = false;
        }
        return pending;
    }
    if (!AnyInstalls(pending) && (backupsArePair || !halfOfTheBackups)) return pending;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const Swap& swap = paths.swaps[i];
        if (std::ranges::find(pending, &swap, &PendingSwap::swap) != pending.end()) continue;
        if (backups[i] == installed[i]) continue;
        pending.push_back({&swap, std::move(*installed[i]), nullptr});
    }
    // The order of the renames is the order of the swaps.
    std::ranges::sort(pending, {}, &PendingSwap::swap);
    return pending;
}

void CheckNoVirtualStoreCopies(FileSystem& files, const CredentialPaths& paths) {
    for (const Swap& swap : paths.swaps) {
        const std::wstring copy = files.VirtualStoreCopyOf(swap.installed);
        if (!copy.empty() && files.Exists(copy)) throw SystemError{Failure::VirtualStoreCopy, copy};
    }
}

// Only the files that will be renamed over: a product running again may hold its unchanged pair
// open, and an unchanged backup may be read-only.
void CheckBeforeAnyChange(FileSystem& files, const Pending& pending) {
    for (const auto& p : pending) {
        if (p.Installs() && p.origin != PendingSwap::Origin::Absent) {
            files.CheckReplaceable(p.swap->installed);
        }
        if (p.backsUp && files.Exists(p.swap->backup)) files.CheckReplaceable(p.swap->backup);
    }
}

// Puts the pending contents in place, each installed file kept as its backup. All copies are
// written and flushed before the first rename, and the renames follow one another, backups
// first: a crash can find the certificate and key from different pairs only between the last two
// renames, and the next run completes the pair. A new file not renamed into place when a step
// fails deletes itself. A failure leaves the folder as it was: the installed files and the
// backups get their content back; a pair left mixed keeps its new backups, which the next run
// completes it with.
void CarryOut(FileSystem& files, Pause& pause, const CredentialPaths& paths, const Pending& pending,
              const MixedPairRemarks& remarks) {
    std::vector<std::optional<Bytes>> oldBackups;
    for (const auto& p : pending) {
        oldBackups.push_back(p.backsUp ? ReadIfThere(files, p.swap->backup) : std::nullopt);
    }
    auto copies = WriteTemporaryCopies(files, pending);
    const MessagesHeld changing{pause};
    HoldUnchanged(files, pending, copies);
    std::size_t renamed = 0;
    const auto undoBackups = [&] {
        copies.clear();  // their temporary names are the undo's
        return PutOldBackupsBack(files, pending, oldBackups, renamed);
    };
    try {
        for (; renamed < pending.size(); ++renamed) {
            const auto& p = pending[renamed];
            if (copies[renamed].backup) {
                copies[renamed].backup->RenameOver(p.swap->backup);
            } else if (p.backsUp) {
                files.Remove(p.swap->backup);  // no installed file: no backup of it either
            }
        }
        InstallTemporaryCopies(files, paths, pending, copies, remarks);
    } catch (const SystemError& error) {
        if (!error.Remark().empty()) throw;  // a mixed pair keeps the backups it is completed with
        const auto notBack = undoBackups();
        if (notBack.empty()) throw;
        throw error.Remarked(BackupsNotPutBack(notBack));
    } catch (...) {
        undoBackups();
        throw;
    }
}

CredentialPaths ComposePaths(std::wstring_view applicationFolder, std::wstring_view installFolder,
                             std::wstring_view certificateFile, std::wstring_view privateKeyFile) {
    const auto swap = [&](std::wstring_view installedFile, std::wstring_view incomingFile) {
        auto installed = Join(installFolder, installedFile);
        auto backup = installed + std::wstring{kBackupSuffix};
        return Swap{std::move(installed), std::move(backup), Join(applicationFolder, incomingFile)};
    };
    return {{swap(certificateFile, kNewCertificateFile), swap(privateKeyFile, kNewPrivateKeyFile)},
            Join(applicationFolder, kChecksumsFile),
            Join(installFolder, kLockFile),
            Join(installFolder, kJournalFile)};
}

ReplacementReport ReplaceCredentials(const Services& services, const CredentialPaths& paths) {
    PatientFileSystem files{services.files, services.pause};
    const auto incoming = CheckPackage(files, services.program, paths, services.clock.UtcSeconds());
    CheckNoVirtualStoreCopies(files, paths);
    ReplacementReport report{incoming.pairUnverified, false, {}};
    const PairContents contents{&incoming.certificate, &incoming.privateKey};
    std::optional<HeldRunLock> oneAtATime;
    try {
        oneAtATime.emplace(services.runLock, services.pause, paths.lockFile);
    } catch (const SystemError& error) {
        if (error.Kind() == Failure::AnotherRun) throw;
        // No lock file can be made: a folder this user may not write to (a product under Program
        // Files that an administrator updated), or one that is not there. Nothing could change
        // there, so there is nothing to exclude: a pair that is already the new one is what the
        // run is for, and what the files say is a better report than the lock's failure.
        if (AnyInstalls(PendingSwaps(files, paths, contents))) throw;
        services.record.Record(DetectionVersionOf(incoming.certificate));
        return report;
    }
    report.setAside =
        SettleLeftovers(files, services.pause, paths, CutShortRestore::RollBack).setAside;
    try {
        const auto pending =
            ChooseBackups(files, paths, contents, PendingSwaps(files, paths, contents));
        for (const auto& p : pending) {
            if (p.swap == &paths.swaps[kCertificateSwap] && p.Installs()) {
                // A newer pair is what detection rules count as installed, as this package's.
                try {
                    CheckNotOlder(incoming, p.installedContent, p.swap->installed);
                } catch (const SystemError&) {
                    services.record.Record(DetectionVersionOf(p.installedContent));
                    throw;
                }
            }
        }
        auto setAside =
            ChangeKeepingOldBackups(files, services.pause, services.record, paths, pending);
        report.setAside.insert(report.setAside.end(), setAside.begin(), setAside.end());
        report.replaced = AnyInstalls(pending);
    } catch (const SystemError& error) {
        throw SayingWhereSetAside(error, report.setAside);
    }
    services.record.Record(DetectionVersionOf(incoming.certificate));
    return report;
}

}  // namespace kdu
