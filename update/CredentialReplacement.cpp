#include "update/CredentialReplacement.h"

#include <array>
#include <exception>
#include <optional>
#include <vector>

#include "platform/Paths.h"
#include "update/PackageCheck.h"

namespace kdu {
namespace {

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
    }
    return temporaries;
}

// Each one on its own: one that cannot be removed does not keep the others. The first failure
// is returned.
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
                     const IncomingFiles& incoming) {
    const std::array<const Bytes*, 2> incomingFor{&incoming.certificate, &incoming.privateKey};
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
                                           const Pending& pending, std::size_t installed) {
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
    return std::wstring{isNew[kCertificateSwap] ? kCertificateNewKeyOld : kCertificateOldKeyNew};
}

// Renames the new files into place in order, then flushes them through the handles that wrote
// them: the closing lines say the pair is new only once it is on the disk (a rename within one
// volume is not written through), and no other program's open of the new file can fail a
// finished replacement. If a step fails, the files already renamed get their content back, so
// that the pair is never mixed; if that fails too, the error says so.
void InstallTemporaryCopies(FileSystem& files, const CredentialPaths& paths, const Pending& pending,
                            Staged& staged) {
    std::size_t installed = 0;
    const auto undo = [&] {
        staged.clear();  // a file open here cannot be renamed over
        return PutBackupsBack(files, paths, pending, installed);
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
    std::optional<HeldRunLock> oneAtATime;
    try {
        oneAtATime.emplace(runLock, pause, paths.lockFile);
    } catch (const SystemError& error) {
        if (error.Kind() == Failure::AnotherRun) throw;
        // No lock file can be made: a folder this user may not write to (a product under Program
        // Files that an administrator updated), or one that is not there. Nothing could change
        // there, so there is nothing to exclude: a pair that is already the new one is what the
        // run is for, and what the files say is a better report than the lock's failure.
        if (!PendingSwaps(files, paths, incoming).empty()) throw;
        return report;
    }
    // Temporary files an interrupted run left are ours; they go first. Under the lock, so that
    // no run in progress loses one.
    if (auto failure = RemoveTemporaryFiles(files, paths)) throw *failure;
    const auto pending = PendingSwaps(files, paths, incoming);
    for (const auto& p : pending) {
        if (p.swap == &paths.swaps[kCertificateSwap]) {
            CheckNotOlder(incoming, p.installedContent, p.swap->installed);
        }
    }
    CheckBeforeAnyChange(files, pending);

    // All copies are written and flushed before the first rename, and the renames follow one
    // another, backups first: a crash can find the certificate and key from different pairs
    // only between the last two renames, and the next run completes the pair. A new file not
    // renamed into place when a step fails deletes itself.
    auto staged = WriteTemporaryCopies(files, pending);
    for (std::size_t i = 0; i < pending.size(); ++i) {
        staged[i].backup->RenameOver(pending[i].swap->backup);
    }
    InstallTemporaryCopies(files, paths, pending, staged);
    return report;
}

}  // namespace kdu
