#include "update/ReplacementSteps.h"

#include <algorithm>
#include <exception>

#include "update/PairCheck.h"

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

// A pending swap's new files (the backup, and the installed file unless it only backs up), open
// until they are in place.
struct StagedSwap {
    std::unique_ptr<NewFile> backup;
    std::unique_ptr<NewFile> installed;
};
using Staged = std::vector<StagedSwap>;

std::vector<std::wstring> TemporaryFiles(const CredentialPaths& paths) {
    std::vector<std::wstring> temporaries;
    for (const auto& swap : paths.swaps) {
        temporaries.push_back(TemporaryFor(swap.backup));
        temporaries.push_back(TemporaryFor(swap.installed));
        temporaries.push_back(TemporaryFor(StagedPathOf(swap)));
    }
    return temporaries;
}

// Whether a certificate and a key are one pair, as far as can be told.
bool IsPair(const std::optional<Bytes>& certificate, const std::optional<Bytes>& key) {
    if (!certificate || !key) return false;
    const auto leaf = ReadLeafCertificate(*certificate);
    const auto publicKey = ReadPrivateKey(*key);
    return leaf && publicKey && CompareKeys(leaf->key, *publicKey) == KeyMatch::Same;
}

Staged WriteTemporaryCopies(FileSystem& files, const Pending& pending) {
    Staged staged;
    for (const auto& p : pending) {
        const auto& installed = p.swap->installed;
        std::unique_ptr<NewFile> backup;
        if (p.backsUp) {
            backup =
                files.WriteNewFile(p.installedContent, TemporaryFor(p.swap->backup), installed);
        }
        std::unique_ptr<NewFile> incoming;
        if (p.Installs()) {
            incoming = files.WriteNewFile(*p.incoming, TemporaryFor(installed), installed);
        }
        staged.push_back({std::move(backup), std::move(incoming)});
    }
    return staged;
}

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
            const auto restored =
                files.WriteNewFile(pending[i].installedContent, TemporaryFor(target), target);
            restored->RenameOver(target);
            restored->Flush();
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

// Renames the new files into place in order, then flushes them through the handles that wrote
// them: the closing lines say the pair is new only once it is on the disk (a rename within one
// volume is not written through), and no other program's open of the new file can fail a
// finished replacement. If a step fails, the files already renamed get their content back, so
// that the pair is never mixed; if that fails too, the error says so.
void InstallTemporaryCopies(FileSystem& files, const CredentialPaths& paths, const Pending& pending,
                            Staged& staged, const MixedPairRemarks& remarks) {
    std::size_t installed = 0;
    const auto undo = [&] {
        staged.clear();  // a file open here cannot be renamed over
        return PutBackupsBack(files, paths, pending, installed, remarks);
    };
    try {
        for (; installed < pending.size(); ++installed) {
            if (!pending[installed].Installs()) continue;
            staged[installed].installed->RenameOver(pending[installed].swap->installed);
        }
        for (const auto& s : staged) {
            if (s.installed) s.installed->Flush();
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

// The backups that the first `renamed` pending swaps replaced get their content back (one that
// was not there goes), quietly: a failed run leaves the backups as it found them where it can.
void PutOldBackupsBack(FileSystem& files, const Pending& pending,
                       const std::vector<std::optional<Bytes>>& oldBackups,
                       std::size_t renamed) noexcept {
    for (std::size_t i = 0; i < renamed; ++i) {
        if (!pending[i].backsUp) continue;
        const auto& backup = pending[i].swap->backup;
        try {
            if (!oldBackups[i]) {
                files.Remove(backup);
                continue;
            }
            const auto restored = files.WriteNewFile(*oldBackups[i], TemporaryFor(backup), backup);
            restored->RenameOver(backup);
            restored->Flush();
        } catch (...) {
        }
    }
}

}  // namespace

std::wstring TemporaryFor(const std::wstring& target) {
    return target + std::wstring{kTemporarySuffix};
}

// Each one on its own: one that cannot be removed does not keep the others. The first failure
// is returned. Every temporary file is a copy of a file under another name (a restore stages the
// pair it puts back first for that), so none is the only copy of a content.
std::optional<SystemError> RemoveTemporaryFiles(FileSystem& files, const CredentialPaths& paths) {
    std::optional<SystemError> failure;
    for (const auto& temporary : TemporaryFiles(paths)) {
        try {
            files.Remove(temporary);
        } catch (const SystemError& error) {
            if (!failure) failure = error;
        }
    }
    return failure;
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

std::optional<Bytes> ReadIfThere(FileSystem& files, const std::wstring& path) {
    if (!files.Exists(path)) return std::nullopt;
    return files.ReadAll(path);
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

// Only the files that will be renamed over: a product running again may hold its unchanged pair
// open, and an unchanged backup may be read-only.
void CheckBeforeAnyChange(FileSystem& files, const Pending& pending) {
    for (const auto& p : pending) {
        if (p.Installs()) files.CheckReplaceable(p.swap->installed);
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
void CarryOut(FileSystem& files, const CredentialPaths& paths, const Pending& pending,
              const MixedPairRemarks& remarks) {
    CheckBeforeAnyChange(files, pending);
    std::vector<std::optional<Bytes>> oldBackups;
    for (const auto& p : pending) {
        oldBackups.push_back(p.backsUp ? ReadIfThere(files, p.swap->backup) : std::nullopt);
    }
    auto staged = WriteTemporaryCopies(files, pending);
    std::size_t renamed = 0;
    const auto undoBackups = [&] {
        staged.clear();  // their temporary names are the undo's
        PutOldBackupsBack(files, pending, oldBackups, renamed);
    };
    try {
        for (; renamed < pending.size(); ++renamed) {
            if (staged[renamed].backup)
                staged[renamed].backup->RenameOver(pending[renamed].swap->backup);
        }
        InstallTemporaryCopies(files, paths, pending, staged, remarks);
    } catch (const SystemError& error) {
        if (error.Remark().empty()) undoBackups();
        throw;
    } catch (...) {
        undoBackups();
        throw;
    }
}

}  // namespace kdu
