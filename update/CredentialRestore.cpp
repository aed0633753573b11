// The restore: the installed pair swapped with its backups, through the update's own steps.

#include "update/CredentialReplacement.h"
#include "update/FolderState.h"
#include "update/HeldRunLock.h"
#include "update/Leftovers.h"
#include "update/PackageCheck.h"
#include "update/PatientFileSystem.h"
#include "update/ReplacementSteps.h"

namespace kdu {
namespace {

// The backups, read once and checked as a package's pair is: the product must be able to use
// them once they are back. The downgrade check does not apply: going back is the point.
IncomingFiles CheckedBackups(FileSystem& files, const CredentialPaths& paths, std::int64_t now) {
    const auto& certificate = paths.swaps[kCertificateSwap].backup;
    const auto& privateKey = paths.swaps[kPrivateKeySwap].backup;
    IncomingFiles backups{files.ReadAll(certificate), files.ReadAll(privateKey)};
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
void StagePair(FileSystem& files, const CredentialPaths& paths, const IncomingFiles& backups) {
    const PairContents contents{&backups.certificate, &backups.privateKey};
    try {
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& swap = paths.swaps[i];
            const auto staged = StagedPathOf(swap);
            auto file = files.WriteNewFile(*contents[i], TemporaryFor(staged), swap.backup);
            file->RenameOver(staged);
            file->Flush();
        }
    } catch (...) {
        RemoveStagedPair(files, paths);
        throw;
    }
}

// After a swap that failed and was undone: the backups get their content back from the staged
// pair, which then goes. Where that fails, the staged pair stays, holding what the backups lack.
void PutStagedPairBack(FileSystem& files, const CredentialPaths& paths,
                       const IncomingFiles& backups) noexcept {
    const PairContents contents{&backups.certificate, &backups.privateKey};
    try {
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& backup = paths.swaps[i].backup;
            if (files.ReadAll(backup) == *contents[i]) continue;
            auto file = files.WriteNewFile(*contents[i], TemporaryFor(backup), backup);
            file->RenameOver(backup);
            file->Flush();
        }
    } catch (...) {
        return;
    }
    RemoveStagedPair(files, paths);
}

// Stages the backups, then swaps them with the installed pair; a failure is undone.
void SwapWithBackups(FileSystem& files, const CredentialPaths& paths, std::int64_t now) {
    const auto backups = CheckedBackups(files, paths, now);
    const PairContents contents{&backups.certificate, &backups.privateKey};
    const auto pending =
        ChooseBackups(files, paths, contents, PendingSwaps(files, paths, contents));
    if (pending.empty()) return;  // the backups hold the installed pair
    CheckBeforeAnyChange(files, pending);

    // Both are staged, even one that is not pending: a restore is completed only where both are.
    StagePair(files, paths, backups);
    try {
        CarryOut(files, paths, pending, kRestoreRemarks);
    } catch (const SystemError& error) {
        // With the pair mixed, the staged pair is what the next restore completes it with.
        if (error.Remark().empty()) PutStagedPairBack(files, paths, backups);
        throw;
    } catch (...) {
        PutStagedPairBack(files, paths, backups);
        throw;
    }
    RemoveStagedPair(files, paths);
}

}  // namespace

RestorePreview PreviewRestore(FileSystem& files, const CredentialPaths& paths, std::int64_t now) {
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
        preview.certificateToPutBack = CheckedBackups(files, paths, now).certificate;
    }
    return preview;
}

ReplacementReport RestoreCredentials(FileSystem& systemFiles, Pause& pause, RunLock& runLock,
                                     Clock& clock, const CredentialPaths& paths) {
    PatientFileSystem files{systemFiles, pause};
    const HeldRunLock oneAtATime{runLock, pause, paths.lockFile};
    const auto leftovers = SettleLeftovers(files, paths, CutShortRestore::Complete);
    ReplacementReport report{false, true, leftovers.setAside};
    if (leftovers.restoreCompleted) return report;  // that was the swap asked for
    try {
        SwapWithBackups(files, paths, clock.UtcSeconds());
    } catch (const SystemError& error) {
        throw SayingWhereSetAside(error, report.setAside);
    }
    return report;
}

}  // namespace kdu
