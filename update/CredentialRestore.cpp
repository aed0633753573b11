// The restore: the installed pair swapped with its backups, through the update's own steps; and
// what an interrupted run left, settled before either changes anything (Leftovers.h).

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "platform/DecimalText.h"
#include "update/CredentialReplacement.h"
#include "update/Detection.h"
#include "update/FolderState.h"
#include "update/HeldRunLock.h"
#include "update/Leftovers.h"
#include "update/PackageCheck.h"
#include "update/PatientFileSystem.h"
#include "update/ReplacementSteps.h"
#include "update/UpdateJournal.h"

namespace kdu {

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

std::wstring SetAsideText(const std::vector<std::wstring>& setAside) {
    std::wstring text{kSetAside};
    for (std::size_t i = 0; i < setAside.size(); ++i) {
        if (i > 0) text += L"、";
        text += setAside[i];
    }
    return text;
}

namespace {

Pending PendingRestore(FileSystem& files, const CredentialPaths& paths,
                       const PairContents& contents);

std::vector<std::wstring> TemporaryFiles(const CredentialPaths& paths) {
    std::vector<std::wstring> temporaries;
    for (const auto& swap : paths.swaps) {
        temporaries.push_back(TemporaryFor(swap.backup));
        temporaries.push_back(TemporaryFor(swap.installed));
        temporaries.push_back(TemporaryFor(StagedPathOf(swap)));
        temporaries.push_back(TemporaryFor(PreviousPathOf(swap)));
    }
    temporaries.push_back(TemporaryFor(paths.journal));
    return temporaries;
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

}  // namespace

// Set aside under the one name its installed file's set-aside copies have: the newest is kept, an
// older one, or one of the same content, gives way. Made like the installed file it copies, where
// that is there.
std::optional<std::wstring> SetAside(FileSystem& files, const Swap& swap, const std::wstring& path,
                                     const Bytes& content) {
    auto place = swap.installed + std::wstring{kSetAsideSuffix};
    if (ReadIfThere(files, place) == content) return std::nullopt;
    const auto& model = files.Exists(swap.installed) ? swap.installed : path;
    auto copy = files.WriteNewFile(content, TemporaryFor(path), model);
    copy->RenameOver(place);
    copy->Flush();
    return place;
}

void Discard(FileSystem& files, const Swap& swap, const std::wstring& path,
             const std::optional<Bytes>& content, bool elsewhere,
             std::vector<std::wstring>& setAside) {
    if (content && !elsewhere) {
        if (auto place = SetAside(files, swap, path, *content)) setAside.push_back(*place);
    }
    files.Remove(path);
}

namespace {

// Each staged file goes: removed where its content is under another name, else set aside first,
// so that a content that may be the only copy of a key is never lost; so does an update's copy
// of an old backup that has no journal (a run cut short before it wrote it). Throws if one cannot
// go: nothing else may change while a staged file could be taken for a restore's. The set-aside
// names, new in this run.
std::vector<std::wstring> ClearLeftovers(FileSystem& files, const CredentialPaths& paths,
                                         const FolderContents& folder, bool staging) {
    std::vector<std::wstring> setAside;
    try {
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& [installed, backup, staged, previous] = folder[i];
            const auto& swap = paths.swaps[i];
            if (previous) {
                Discard(files, swap, PreviousPathOf(swap), previous,
                        previous == installed || previous == backup, setAside);
            }
            if (staging && staged) {
                Discard(files, swap, StagedPathOf(swap), staged,
                        staged == installed || staged == backup, setAside);
            }
        }
    } catch (const SystemError& error) {
        throw SayingWhereSetAside(error, setAside);
    }
    return setAside;
}

// Puts the folder back as the restore cut short found it: each installed file gets the content
// the restore moved to its backup, then each backup its staged content. Every content overwritten
// is under another name: a kill at any moment leaves a restore still cut short, or none.
void RollBack(FileSystem& files, Pause& pause, const CredentialPaths& paths,
              const FolderContents& folder) {
    Pending installedBack, backupsBack;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const auto& [installed, backup, staged, previous] = folder[i];
        const Swap* swap = &paths.swaps[i];
        // Renamed: the installed file holds the staged content and the backup does not.
        if (backup && installed == staged && backup != staged) {
            installedBack.push_back({swap, *installed, &*backup, false});
        }
        if (backup != staged) {
            backupsBack.push_back({swap, *staged, nullptr, true, PendingSwap::Origin::Elsewhere});
        }
    }
    for (const auto* change : {&installedBack, &backupsBack}) {
        CheckBeforeAnyChange(files, *change);
        CarryOut(files, pause, paths, *change, kRestoreRemarks);
    }
}

// A restore renames over all four names, so between the renames a content would be in a
// temporary file alone. The pair it puts back is therefore staged first, in files that only a
// restore's last step removes. A restore cut short is completed or rolled back here by the same
// steps; a staged file that is not a cut-short restore's is never installed. Afterwards no staged
// file is there, unless a restore completed it and could not remove it (it is then a copy of the
// installed file, which the next run removes).
Leftovers CompleteOrClear(FileSystem& files, Pause& pause, const CredentialPaths& paths,
                          CutShortRestore what) {
    auto folder = ReadFolder(files, paths);
    Leftovers leftovers;
    if (StateOf(folder) == FolderState::UpdateCutShort) {
        leftovers.setAside = SettleCutShortUpdate(files, pause, paths, folder);
        folder = ReadFolder(files, paths);
    }
    const auto clear = [&] {
        auto cleared = ClearLeftovers(files, paths, ReadFolder(files, paths), true);
        leftovers.setAside.insert(leftovers.setAside.end(), cleared.begin(), cleared.end());
        return leftovers;
    };
    switch (StateOf(folder)) {
        case FolderState::Settled:
            return leftovers;
        case FolderState::UpdateCutShort:  // its journal could not go: SettleCutShortUpdate threw
        case FolderState::LeftOver:
            return clear();
        case FolderState::RestoreCutShort:
            break;
    }
    if (what == CutShortRestore::RollBack) {
        RollBack(files, pause, paths, folder);
        return clear();
    }
    const auto& certificate = *folder[kCertificateSwap].staged;
    const auto& privateKey = *folder[kPrivateKeySwap].staged;
    const auto pending = PendingRestore(files, paths, {&certificate, &privateKey});
    CheckBeforeAnyChange(files, pending);
    CarryOut(files, pause, paths, pending, kRestoreRemarks);
    RemoveStagedPair(files, paths);
    leftovers.restoreCompleted = true;
    return leftovers;
}

}  // namespace

Leftovers SettleLeftovers(FileSystem& files, Pause& pause, const CredentialPaths& paths,
                          CutShortRestore what) {
    if (auto failure = RemoveTemporaryFiles(files, paths)) throw *failure;
    return CompleteOrClear(files, pause, paths, what);
}

namespace {

// The backups, read once and checked as a package's pair is: the product must be able to use
// them once they are back. The downgrade check does not apply: going back is the point.
CheckedPair CheckedBackups(FileSystem& files, const CredentialPaths& paths, std::int64_t now) {
    const auto& certificate = paths.swaps[kCertificateSwap].backup;
    const auto& privateKey = paths.swaps[kPrivateKeySwap].backup;
    for (const auto* backup : {&certificate, &privateKey}) {
        if (!files.Exists(*backup)) throw SystemError{Failure::NoBackup, *backup};
    }
    CheckedPair backups{files.ReadAll(certificate), files.ReadAll(privateKey)};
    try {
        CheckPairContent(backups, certificate, privateKey, now);
    } catch (const SystemError& error) {
        switch (error.Kind()) {
            case Failure::CertificateExpired:
                throw SystemError{Failure::BackupExpired, error.Path(), error.Description()};
            case Failure::NotACertificate:
            case Failure::NotAPrivateKey:
            case Failure::EncryptedPrivateKey:
            case Failure::KeyMismatch:
                throw SystemError{Failure::BackupNotAPair, error.Path()};
            default:
                throw;
        }
    }
    return backups;
}

// Stages the pair to put back, each file written beside the backup it copies, made like it, and
// renamed into place. If that fails, what was staged goes: nothing has changed yet.
void StagePair(FileSystem& files, const CredentialPaths& paths, const CheckedPair& backups) {
    const PairContents contents{&backups.certificate, &backups.privateKey};
    try {
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& swap = paths.swaps[i];
            const auto staged = StagedPathOf(swap);
            WriteInPlace(files, *contents[i], staged, swap.backup);
        }
    } catch (...) {
        RemoveStagedPair(files, paths);
        throw;
    }
}

// After a swap that failed and was undone: the backups get their content back from the staged
// pair, which then goes. Where that fails, the staged pair stays, holding what the backups lack.
void PutStagedPairBack(FileSystem& files, const CredentialPaths& paths,
                       const CheckedPair& backups) noexcept {
    const PairContents contents{&backups.certificate, &backups.privateKey};
    try {
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& swap = paths.swaps[i];
            if (ReadIfThere(files, swap.backup) == *contents[i]) continue;
            WriteInPlace(files, *contents[i], swap.backup, ModelFor(files, swap));
        }
    } catch (...) {
        return;
    }
    RemoveStagedPair(files, paths);
}

// What a restore changes to put contents in place. Where an installed half is gone (quarantined
// by an antivirus, removed by a clean-up tool), the whole backups go back all the same: the half
// that is there becomes its backup, and the missing half's backup goes (it is installed).
Pending PendingRestore(FileSystem& files, const CredentialPaths& paths,
                       const PairContents& contents) {
    const bool whole = std::ranges::all_of(
        paths.swaps, [&](const Swap& swap) { return files.Exists(swap.installed); });
    if (whole) return ChooseBackups(files, paths, contents, PendingSwaps(files, paths, contents));
    Pending pending;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const auto& swap = paths.swaps[i];
        auto installed = ReadIfThere(files, swap.installed);
        if (!installed) {
            pending.push_back({&swap, {}, contents[i], true, PendingSwap::Origin::Absent});
        } else if (*installed != *contents[i]) {
            pending.push_back({&swap, std::move(*installed), contents[i]});
        }
    }
    return pending;
}

// Stages the backups, then swaps them with the installed pair; a failure is undone. Whether it
// swapped anything: where the backups hold the installed pair, there is nothing to swap.
bool SwapWithBackups(FileSystem& files, Pause& pause, PairRecord& record,
                     const CredentialPaths& paths, std::int64_t now) {
    const auto backups = CheckedBackups(files, paths, now);
    const PairContents contents{&backups.certificate, &backups.privateKey};
    const auto pending = PendingRestore(files, paths, contents);
    if (pending.empty()) return false;
    CheckBeforeAnyChange(files, pending);
    record.Forget();

    // Both are staged, even one that is not pending: a restore is completed only where both are.
    StagePair(files, paths, backups);
    try {
        CarryOut(files, pause, paths, pending, kRestoreRemarks);
    } catch (const SystemError& error) {
        // With the pair mixed, the staged pair is what the next restore completes it with.
        if (error.Remark().empty()) PutStagedPairBack(files, paths, backups);
        throw;
    } catch (...) {
        PutStagedPairBack(files, paths, backups);
        throw;
    }
    RemoveStagedPair(files, paths);
    return true;
}
}  // namespace

RestorePreview PreviewRestore(FileSystem& files, const CredentialPaths& paths, std::int64_t now) {
    CheckNoVirtualStoreCopies(files, paths);
    RestorePreview preview;
    try {
        preview.installedCertificate = files.ReadAll(paths.swaps[kCertificateSwap].installed);
    } catch (const SystemError&) {
        // Not there or not readable: the question says so; the restore puts one back all the same.
    }
    const auto folder = ReadFolder(files, paths);
    if (StateOf(folder) == FolderState::RestoreCutShort) {
        preview.certificateToPutBack = *folder[kCertificateSwap].staged;
    } else {
        const auto backups = CheckedBackups(files, paths, now);
        preview.certificateToPutBack = backups.certificate;
        preview.nothingToSwap =
            ReadIfThere(files, paths.swaps[kCertificateSwap].installed) == backups.certificate &&
            ReadIfThere(files, paths.swaps[kPrivateKeySwap].installed) == backups.privateKey;
    }
    return preview;
}

ReplacementReport RestoreCredentials(const Services& services, const CredentialPaths& paths) {
    PatientFileSystem files{services.files, services.pause};
    CheckNoVirtualStoreCopies(files, paths);
    const HeldRunLock oneAtATime{services.runLock, services.pause, paths.lockFile};
    const auto leftovers = SettleLeftovers(files, services.pause, paths, CutShortRestore::Complete);
    ReplacementReport report{false, true, leftovers.setAside};
    try {
        // A restore cut short and now completed was the swap asked for.
        if (!leftovers.restoreCompleted) {
            report.replaced = SwapWithBackups(files, services.pause, services.record, paths,
                                              services.clock.UtcSeconds());
        }
    } catch (const SystemError& error) {
        throw SayingWhereSetAside(error, report.setAside);
    }
    // What the record says is no condition of the restore, which is done.
    try {
        const auto installed = ReadIfThere(services.files, paths.swaps[kCertificateSwap].installed);
        services.record.Record(installed ? DetectionVersionOf(*installed) : std::wstring{});
    } catch (const std::exception&) {
    }
    return report;
}

}  // namespace kdu
