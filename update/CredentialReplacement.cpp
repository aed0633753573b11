#include "update/CredentialReplacement.h"

#include <exception>
#include <optional>
#include <vector>

#include "platform/Paths.h"

namespace kdu {
namespace {

// Win32 error numbers for failures found here rather than by the system, and those that a
// short lock gives.
constexpr std::uint32_t kInvalidData = 13;       // ERROR_INVALID_DATA
constexpr std::uint32_t kAccessDenied = 5;       // ERROR_ACCESS_DENIED
constexpr std::uint32_t kSharingViolation = 32;  // ERROR_SHARING_VIOLATION
constexpr std::uint32_t kLockViolation = 33;     // ERROR_LOCK_VIOLATION

// The file system as the replacement uses it: a step that meets a short lock is tried again.
// Antivirus, the search indexer and sync clients open new and changed files for a moment; the
// user should not see that as a failure. A read-only file is a refusal, and fails at once.
class PatientFileSystem final : public FileSystem {
public:
    PatientFileSystem(FileSystem& files, Pause& pause) : files_(files), pause_(pause) {}

    std::wstring ExecutablePath() override { return files_.ExecutablePath(); }
    Bytes ReadAll(const std::wstring& path) override {
        return Patiently([&] { return files_.ReadAll(path); });
    }
    std::uint64_t SizeOf(const std::wstring& path) override {
        return Patiently([&] { return files_.SizeOf(path); });
    }
    bool SameContent(const std::wstring& first, const std::wstring& second) override {
        return Patiently([&] { return files_.SameContent(first, second); });
    }
    bool Exists(const std::wstring& path) override { return files_.Exists(path); }
    void CheckReplaceable(const std::wstring& path) override {
        Patiently([&] { files_.CheckReplaceable(path); });
    }
    bool IsReadOnly(const std::wstring& path) override { return files_.IsReadOnly(path); }
    FileFacts Inspect(const std::wstring& path) override {
        return Patiently([&] { return files_.Inspect(path); });
    }
    void CopyToNewFile(const std::wstring& source, const std::wstring& destination,
                       const std::wstring& model) override {
        Patiently([&] {
            try {
                files_.CopyToNewFile(source, destination, model);
            } catch (const SystemError& error) {
                // What a failed try wrote would make the next one fail: it is created only new.
                if (Transient(error)) files_.Remove(destination);
                throw;
            }
        });
    }
    void MoveReplacing(const std::wstring& from, const std::wstring& to) override {
        Patiently([&] { files_.MoveReplacing(from, to); });
    }
    void Flush(const std::wstring& path) override {
        Patiently([&] { files_.Flush(path); });
    }
    void Remove(const std::wstring& path) override {
        Patiently([&] { files_.Remove(path); });
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

    template <typename Step>
    auto Patiently(Step&& step) -> decltype(step()) {
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

    FileSystem& files_;
    Pause& pause_;
};

std::wstring TemporaryFor(const std::wstring& target) {
    return target + std::wstring{kTemporarySuffix};
}

void RemoveQuietly(FileSystem& files, const std::wstring& path) noexcept {
    try {
        files.Remove(path);
    } catch (const std::exception&) {
    }
}

// An empty certificate or key would leave the product unable to start.
void CheckNewFile(FileSystem& files, const std::wstring& path) {
    if (files.SizeOf(path) == 0) throw SystemError{kInvalidData, {}, path};
}

// The path must name the file itself, and its only name: renaming over a symbolic link would
// replace the link and leave the file it points to, and over one of several hard links would
// leave the other names with the old content.
void CheckReplaceableAsItself(FileSystem& files, const std::wstring& installed) {
    const FileFacts facts = files.Inspect(installed);
    if (facts.reparsePoint) {
        throw SystemError{kNotSupported, std::wstring{kSymbolicLinkRefused}, installed};
    }
    if (facts.links > 1) {
        throw SystemError{kNotSupported, std::wstring{kHardLinkRefused}, installed};
    }
}

// One installed file, the copy of it to keep, and the file that replaces it.
struct Replacement {
    const std::wstring* installed;
    const std::wstring* backup;
    const std::wstring* replacement;
};

std::vector<std::wstring> TemporaryFiles(const CredentialPaths& paths) {
    return {TemporaryFor(paths.certificateBackup), TemporaryFor(paths.installedCertificate),
            TemporaryFor(paths.privateKeyBackup), TemporaryFor(paths.installedPrivateKey)};
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
std::vector<Replacement> PendingReplacements(FileSystem& files, const CredentialPaths& paths) {
    CheckNewFile(files, paths.newCertificate);
    CheckNewFile(files, paths.newPrivateKey);
    std::vector<Replacement> pending;
    for (const Replacement candidate :
         {Replacement{&paths.installedCertificate, &paths.certificateBackup, &paths.newCertificate},
          Replacement{&paths.installedPrivateKey, &paths.privateKeyBackup, &paths.newPrivateKey}}) {
        if (!files.SameContent(*candidate.installed, *candidate.replacement)) {
            CheckReplaceableAsItself(files, *candidate.installed);
            pending.push_back(candidate);
        }
    }
    return pending;
}

// Only the files that will be written: a product running again may hold its unchanged pair
// open, and an unchanged backup may be read-only.
void CheckBeforeAnyChange(FileSystem& files, const std::vector<Replacement>& pending) {
    for (const auto& step : pending) {
        files.CheckReplaceable(*step.installed);
        if (files.Exists(*step.backup)) files.CheckReplaceable(*step.backup);
    }
}

void WriteTemporaryCopies(FileSystem& files, const std::vector<Replacement>& pending) {
    for (const auto& step : pending) {
        files.CopyToNewFile(*step.installed, TemporaryFor(*step.backup), *step.installed);
        files.CopyToNewFile(*step.replacement, TemporaryFor(*step.installed), *step.installed);
    }
}

// Puts the backups of the first `installed` steps back; which of the pair is new if that failed.
std::optional<std::wstring> PutBackupsBack(FileSystem& files, const CredentialPaths& paths,
                                           const std::vector<Replacement>& pending,
                                           std::size_t installed) {
    bool certificateNew = false;
    bool keyNew = false;
    for (std::size_t i = 0; i < installed; ++i) {
        try {
            ReplaceFileContent(files, *pending[i].backup, *pending[i].installed);
        } catch (const std::exception&) {
            (pending[i].installed == &paths.installedCertificate ? certificateNew : keyNew) = true;
        }
    }
    // A file left out of the run already held its new content.
    const auto isNew = [&](const std::wstring& installedPath, bool failedBack) {
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (pending[i].installed == &installedPath) return i < installed && failedBack;
        }
        return true;
    };
    certificateNew = isNew(paths.installedCertificate, certificateNew);
    keyNew = isNew(paths.installedPrivateKey, keyNew);
    if (certificateNew == keyNew) return std::nullopt;
    return std::wstring{certificateNew ? kCertificateNewKeyOld : kCertificateOldKeyNew};
}

// Renames the new files into place in order, then flushes them: the closing lines say the pair
// is new only once it is on the disk (a rename within one volume is not written through). If a
// step fails, the files already renamed get their backup back, so that the pair is never mixed;
// if that fails too, the error says so.
void InstallTemporaryCopies(FileSystem& files, const CredentialPaths& paths,
                            const std::vector<Replacement>& pending) {
    std::size_t installed = 0;
    try {
        for (; installed < pending.size(); ++installed) {
            const auto& step = pending[installed];
            files.MoveReplacing(TemporaryFor(*step.installed), *step.installed);
        }
        for (const auto& step : pending) files.Flush(*step.installed);
    } catch (const SystemError& error) {
        // The first failure is the one to report; it happened first.
        if (auto mixed = PutBackupsBack(files, paths, pending, installed)) {
            throw SystemError{error.Code(), error.Description(), error.Path(), std::move(*mixed)};
        }
        throw;
    } catch (...) {
        PutBackupsBack(files, paths, pending, installed);
        throw;
    }
}

void RemoveTemporaryFilesQuietly(FileSystem& files, const CredentialPaths& paths) noexcept {
    try {
        RemoveTemporaryFiles(files, paths);
    } catch (const std::exception&) {
    }
}

}  // namespace

CredentialPaths ComposePaths(std::wstring_view applicationFolder, std::wstring_view installFolder,
                             std::wstring_view certificateFile, std::wstring_view privateKeyFile) {
    CredentialPaths paths;
    paths.installedCertificate = Join(installFolder, certificateFile);
    paths.certificateBackup = paths.installedCertificate + std::wstring{kBackupSuffix};
    paths.newCertificate = Join(applicationFolder, kNewCertificateFile);
    paths.installedPrivateKey = Join(installFolder, privateKeyFile);
    paths.privateKeyBackup = paths.installedPrivateKey + std::wstring{kBackupSuffix};
    paths.newPrivateKey = Join(applicationFolder, kNewPrivateKeyFile);
    return paths;
}

void ReplaceFileContent(FileSystem& files, const std::wstring& source, const std::wstring& target) {
    const auto temporary = TemporaryFor(target);
    try {
        files.CopyToNewFile(source, temporary, target);
        files.MoveReplacing(temporary, target);
    } catch (...) {
        RemoveQuietly(files, temporary);
        throw;
    }
}

void ReplaceCredentials(FileSystem& systemFiles, Pause& pause, const CredentialPaths& paths) {
    PatientFileSystem files{systemFiles, pause};
    // Temporary files an interrupted run may have left are ours; they go first.
    if (auto failure = RemoveTemporaryFiles(files, paths)) throw *failure;
    const auto pending = PendingReplacements(files, paths);
    CheckBeforeAnyChange(files, pending);

    // All copies are written and flushed before the first rename, and the renames follow one
    // another, backups first: a crash can find the certificate and key from different pairs
    // only between the last two renames, and the next run completes the pair.
    try {
        WriteTemporaryCopies(files, pending);
        for (const auto& step : pending) {
            files.MoveReplacing(TemporaryFor(*step.backup), *step.backup);
        }
        InstallTemporaryCopies(files, paths, pending);
    } catch (...) {
        RemoveTemporaryFilesQuietly(files, paths);
        throw;
    }
}

}  // namespace kdu
