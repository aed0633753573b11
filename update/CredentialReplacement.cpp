#include "update/CredentialReplacement.h"

#include <array>
#include <exception>
#include <optional>
#include <vector>

#include "platform/Paths.h"
#include "update/PackageCheck.h"

namespace kdu {
namespace {

// What an undo that failed says, by which of the pair is new.
struct MixedPairRemarks {
    std::wstring_view certificateNewKeyOld;
    std::wstring_view certificateOldKeyNew;
};

// The Win32 error numbers a short lock gives.
constexpr std::uint32_t kAccessDenied = 5;       // ERROR_ACCESS_DENIED
constexpr std::uint32_t kSharingViolation = 32;  // ERROR_SHARING_VIOLATION
constexpr std::uint32_t kLockViolation = 33;     // ERROR_LOCK_VIOLATION

// Runs a file step, trying it again when it meets a short lock. Antivirus, the search indexer
// and sync clients open new and changed files for a moment; the user should not see that as a
// failure. A read-only file is a refusal, and fails at once.
class Patience {
public:
    Patience(FileSystem& files, Pause& pause) : files_(files), pause_(pause) {}

    template <typename Step>
    auto operator()(Step&& step) -> decltype(step()) {
        for (const unsigned pauseMs : kRetryPausesMs) {
            try {
                return step();
            } catch (const SystemError& error) {
                if (!Transient(error)) throw;
            }
            pause_.Sleep(pauseMs);
        }
        return step();
    }

private:
    bool Transient(const SystemError& error) {
        switch (error.Code()) {
            case kSharingViolation:
            case kLockViolation:
                return true;
            case kAccessDenied:
                // A file being deleted or scanned denies access for a moment too.
                return error.Path().empty() || !files_.IsReadOnly(error.Path());
            default:
                return false;
        }
    }

    FileSystem& files_;
    Pause& pause_;
};

class PatientNewFile final : public NewFile {
public:
    PatientNewFile(std::unique_ptr<NewFile> file, Patience& patiently)
        : file_(std::move(file)), patiently_(patiently) {}
    void RenameOver(const std::wstring& target) override {
        patiently_([&] { file_->RenameOver(target); });
    }
    void Flush() override {
        patiently_([&] { file_->Flush(); });
    }

private:
    std::unique_ptr<NewFile> file_;
    Patience& patiently_;
};

// The file system as the replacement uses it: every step that meets a short lock is tried
// again.
class PatientFileSystem final : public FileSystem {
public:
    PatientFileSystem(FileSystem& files, Pause& pause) : files_(files), patiently_(files, pause) {}

    std::wstring ExecutablePath() override { return files_.ExecutablePath(); }
    Bytes DigestSlot() override { return files_.DigestSlot(); }
    Bytes ReadAll(const std::wstring& path) override {
        return patiently_([&] { return files_.ReadAll(path); });
    }
    bool Exists(const std::wstring& path) override { return files_.Exists(path); }
    Sha256Digest Sha256Of(std::string_view bytes) override { return files_.Sha256Of(bytes); }
    bool SameFileName(std::string_view utf8Name, std::wstring_view name) override {
        return files_.SameFileName(utf8Name, name);
    }
    void CheckReplaceable(const std::wstring& path) override {
        patiently_([&] { files_.CheckReplaceable(path); });
    }
    bool IsReadOnly(const std::wstring& path) override { return files_.IsReadOnly(path); }
    FileFacts Inspect(const std::wstring& path) override {
        return patiently_([&] { return files_.Inspect(path); });
    }
    // A failed try leaves nothing behind (the file deletes what it made), so the next try
    // creates the file anew.
    std::unique_ptr<NewFile> WriteNewFile(const Bytes& content, const std::wstring& path,
                                          const std::wstring& model) override {
        return std::make_unique<PatientNewFile>(
            patiently_([&] { return files_.WriteNewFile(content, path, model); }), patiently_);
    }
    void Remove(const std::wstring& path) override {
        patiently_([&] { files_.Remove(path); });
    }

private:
    FileSystem& files_;
    Patience patiently_;
};

// Holds the install folder's lock for as long as it lives; waits for another run to give it up
// for at most kLockWaitMs.
class HeldRunLock {
public:
    HeldRunLock(RunLock& lock, Pause& pause, const std::wstring& lockFile) : lock_(lock) {
        for (unsigned waited = 0; !lock_.TryAcquire(lockFile); waited += kLockPollMs) {
            if (waited >= kLockWaitMs) throw SystemError{Failure::AnotherRun};
            pause.Sleep(kLockPollMs);
        }
    }
    HeldRunLock(const HeldRunLock&) = delete;
    HeldRunLock& operator=(const HeldRunLock&) = delete;
    ~HeldRunLock() { lock_.Release(); }

private:
    RunLock& lock_;
};

std::wstring TemporaryFor(const std::wstring& target) {
    return target + std::wstring{kTemporarySuffix};
}

std::wstring StagedFor(const Swap& swap) { return swap.installed + std::wstring{kStagedSuffix}; }

// The path must name the file itself, and its only name: renaming over a symbolic link or a
// junction would replace the link and leave the file it points to, and over one of several
// hard links would leave the other names with the old content.
void CheckReplaceableAsItself(FileSystem& files, const std::wstring& installed) {
    const FileFacts facts = files.Inspect(installed);
    if (IsNameSurrogate(facts.reparseTag)) throw SystemError{Failure::SymbolicLink, installed};
    if (facts.links > 1) throw SystemError{Failure::HardLink, installed};
}

// A swap the run makes, with the installed file's content as read once: compared with the
// incoming file, then written as the backup, and put back by the undo.
struct PendingSwap {
    const Swap* swap;
    Bytes installedContent;
    const Bytes* incoming;
};
using Pending = std::vector<PendingSwap>;

// A pending swap's two new files, open until they are in place.
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
        temporaries.push_back(TemporaryFor(StagedFor(swap)));
    }
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

// The contents to put in place of the certificate and of the key.
using PairContents = std::array<const Bytes*, 2>;

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

// Only the files that will be renamed over: a product running again may hold its unchanged pair
// open, and an unchanged backup may be read-only.
void CheckBeforeAnyChange(FileSystem& files, const Pending& pending) {
    for (const auto& p : pending) {
        files.CheckReplaceable(p.swap->installed);
        if (files.Exists(p.swap->backup)) files.CheckReplaceable(p.swap->backup);
    }
}

Staged WriteTemporaryCopies(FileSystem& files, const Pending& pending) {
    Staged staged;
    for (const auto& p : pending) {
        const auto& installed = p.swap->installed;
        auto backup =
            files.WriteNewFile(p.installedContent, TemporaryFor(p.swap->backup), installed);
        auto incoming = files.WriteNewFile(*p.incoming, TemporaryFor(installed), installed);
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
            staged[installed].installed->RenameOver(pending[installed].swap->installed);
        }
        for (const auto& s : staged) s.installed->Flush();
    } catch (const SystemError& error) {
        // The first failure is the one to report; it happened first.
        if (auto mixed = undo()) throw error.Remarked(std::move(*mixed));
        throw;
    } catch (...) {
        undo();
        throw;
    }
}

// Puts the pending contents in place, each installed file kept as its backup. All copies are
// written and flushed before the first rename, and the renames follow one another, backups
// first: a crash can find the certificate and key from different pairs only between the last two
// renames, and the next run completes the pair. A new file not renamed into place when a step
// fails deletes itself.
void CarryOut(FileSystem& files, const CredentialPaths& paths, const Pending& pending,
              const MixedPairRemarks& remarks) {
    CheckBeforeAnyChange(files, pending);
    auto staged = WriteTemporaryCopies(files, pending);
    for (std::size_t i = 0; i < pending.size(); ++i) {
        staged[i].backup->RenameOver(pending[i].swap->backup);
    }
    InstallTemporaryCopies(files, paths, pending, staged, remarks);
}

constexpr MixedPairRemarks kUpdateRemarks{kCertificateNewKeyOld, kCertificateOldKeyNew};
constexpr MixedPairRemarks kRestoreRemarks{kCertificateBackKeyNot, kKeyBackCertificateNot};
constexpr std::uint32_t kFileExists = 80;  // ERROR_FILE_EXISTS

// The pair a restore staged, where both files are there; else nothing.
std::optional<std::array<Bytes, 2>> StagedPair(FileSystem& files, const CredentialPaths& paths) {
    std::array<Bytes, 2> staged;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const auto path = StagedFor(paths.swaps[i]);
        if (!files.Exists(path)) return std::nullopt;
        staged[i] = files.ReadAll(path);
    }
    return staged;
}

// Each one on its own, and quietly: they are copies of the pair in place once the swap is done.
void RemoveStagedPair(FileSystem& files, const CredentialPaths& paths) noexcept {
    for (const auto& swap : paths.swaps) {
        try {
            files.Remove(StagedFor(swap));
        } catch (...) {
        }
    }
}

// A restore renames over all four names, so between the renames a content would be in a
// temporary file alone. The pair it puts back is therefore staged first, in files that only a
// restore's last step removes. A restore killed after staging both is completed here, by the
// same steps; a file staged alone is a copy of a file under its own name (the staging or the
// last step was cut short) and goes. Nothing is removed that is the only copy of a content.
// True if an interrupted swap was completed.
bool CompleteInterruptedRestore(FileSystem& files, const CredentialPaths& paths) {
    if (const auto staged = StagedPair(files, paths)) {
        const auto pending = PendingSwaps(files, paths, {&(*staged)[0], &(*staged)[1]});
        CarryOut(files, paths, pending, kRestoreRemarks);
        RemoveStagedPair(files, paths);
        return !pending.empty();
    }
    for (const auto& swap : paths.swaps) {
        const auto path = StagedFor(swap);
        if (!files.Exists(path)) continue;
        const auto content = files.ReadAll(path);
        if (content != files.ReadAll(swap.installed) && content != files.ReadAll(swap.backup)) {
            throw SystemError{kFileExists, L"", path};
        }
        files.Remove(path);
    }
    return false;
}

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
            const auto staged = StagedFor(swap);
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

}  // namespace

CredentialPaths ComposePaths(std::wstring_view applicationFolder, std::wstring_view installFolder,
                             std::wstring_view certificateFile, std::wstring_view privateKeyFile) {
    const auto swap = [&](std::wstring_view installedFile, std::wstring_view incomingFile) {
        auto installed = Join(installFolder, installedFile);
        auto backup = installed + std::wstring{kBackupSuffix};
        return Swap{std::move(installed), std::move(backup), Join(applicationFolder, incomingFile)};
    };
    return {{swap(certificateFile, kNewCertificateFile), swap(privateKeyFile, kNewPrivateKeyFile)},
            Join(applicationFolder, kChecksumsFile),
            Join(installFolder, kLockFile)};
}

ReplacementReport ReplaceCredentials(FileSystem& systemFiles, Pause& pause, RunLock& runLock,
                                     Clock& clock, const CredentialPaths& paths) {
    PatientFileSystem files{systemFiles, pause};
    const auto incoming = CheckPackage(files, paths, clock.UtcSeconds());
    const ReplacementReport report{incoming.pairUnverified};
    const PairContents contents{&incoming.certificate, &incoming.privateKey};
    std::optional<HeldRunLock> oneAtATime;
    try {
        oneAtATime.emplace(runLock, pause, paths.lockFile);
    } catch (const SystemError& error) {
        if (error.Kind() == Failure::AnotherRun) throw;
        // No lock file can be made: a folder this user may not write to (a product under Program
        // Files that an administrator updated), or one that is not there. Nothing could change
        // there, so there is nothing to exclude: a pair that is already the new one is what the
        // run is for, and what the files say is a better report than the lock's failure.
        if (!PendingSwaps(files, paths, contents).empty()) throw;
        return report;
    }
    // What an interrupted run left goes first, under the lock, so that no run in progress loses
    // it: temporary files (each a copy of a file under another name) are removed, and a
    // restore's swap is completed.
    if (auto failure = RemoveTemporaryFiles(files, paths)) throw *failure;
    CompleteInterruptedRestore(files, paths);
    const auto pending = PendingSwaps(files, paths, contents);
    for (const auto& p : pending) {
        if (p.swap == &paths.swaps[kCertificateSwap]) {
            CheckNotOlder(incoming, p.installedContent, p.swap->installed);
        }
    }
    CarryOut(files, paths, pending, kUpdateRemarks);
    return report;
}

RestorePreview PreviewRestore(FileSystem& files, const CredentialPaths& paths, std::int64_t now) {
    RestorePreview preview;
    try {
        preview.installedCertificate = files.ReadAll(paths.swaps[kCertificateSwap].installed);
    } catch (const SystemError&) {
        // Not there or not readable: the question says so; the restore puts one back all the same.
    }
    if (auto staged = StagedPair(files, paths)) {
        preview.certificateToPutBack = std::move((*staged)[kCertificateSwap]);
    } else {
        preview.certificateToPutBack = CheckedBackups(files, paths, now).certificate;
    }
    return preview;
}

void RestoreCredentials(FileSystem& systemFiles, Pause& pause, RunLock& runLock, Clock& clock,
                        const CredentialPaths& paths) {
    PatientFileSystem files{systemFiles, pause};
    const HeldRunLock oneAtATime{runLock, pause, paths.lockFile};
    if (auto failure = RemoveTemporaryFiles(files, paths)) throw *failure;
    if (CompleteInterruptedRestore(files, paths)) return;  // that was the swap asked for
    const auto backups = CheckedBackups(files, paths, clock.UtcSeconds());
    const auto pending = PendingSwaps(files, paths, {&backups.certificate, &backups.privateKey});
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

}  // namespace kdu
