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
    Sha256Digest Sha256Of(const std::wstring& path) override {
        return Patiently([&] { return files_.Sha256Of(path); });
    }
    bool SameFileName(std::string_view utf8Name, std::wstring_view name) override {
        return files_.SameFileName(utf8Name, name);
    }
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

// Writes source over the existing target so that target is at every moment wholly old or wholly
// new: a flushed temporary copy beside it, made like target, renamed over it. No temporary file
// survives a failure.
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

// The path must name the file itself, and its only name: renaming over a symbolic link would
// replace the link and leave the file it points to, and over one of several hard links would
// leave the other names with the old content.
void CheckReplaceableAsItself(FileSystem& files, const std::wstring& installed) {
    const FileFacts facts = files.Inspect(installed);
    if (facts.reparsePoint) throw SystemError{Failure::SymbolicLink, installed};
    if (facts.links > 1) throw SystemError{Failure::HardLink, installed};
}

using Pending = std::vector<const Swap*>;

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
Pending PendingSwaps(FileSystem& files, const CredentialPaths& paths) {
    Pending pending;
    for (const auto& swap : paths.swaps) {
        if (!files.SameContent(swap.installed, swap.incoming)) {
            CheckReplaceableAsItself(files, swap.installed);
            pending.push_back(&swap);
        }
    }
    return pending;
}

// Only the files that will be written: a product running again may hold its unchanged pair
// open, and an unchanged backup may be read-only.
void CheckBeforeAnyChange(FileSystem& files, const Pending& pending) {
    for (const auto* swap : pending) {
        files.CheckReplaceable(swap->installed);
        if (files.Exists(swap->backup)) files.CheckReplaceable(swap->backup);
    }
}

void WriteTemporaryCopies(FileSystem& files, const Pending& pending) {
    for (const auto* swap : pending) {
        files.CopyToNewFile(swap->installed, TemporaryFor(swap->backup), swap->installed);
        files.CopyToNewFile(swap->incoming, TemporaryFor(swap->installed), swap->installed);
    }
}

// Puts the backups of the first `installed` pending swaps back; which of the pair is new if
// that failed.
std::optional<std::wstring> PutBackupsBack(FileSystem& files, const CredentialPaths& paths,
                                           const Pending& pending, std::size_t installed) {
    // A file left out of the run already held its new content; one in it is old unless its
    // rename stands and its backup could not be put back.
    std::array<bool, 2> isNew{true, true};
    const auto of = [&](const Swap* swap) -> bool& {
        return isNew[static_cast<std::size_t>(swap - paths.swaps.data())];
    };
    for (const auto* swap : pending) of(swap) = false;
    for (std::size_t i = 0; i < installed; ++i) {
        try {
            ReplaceFileContent(files, pending[i]->backup, pending[i]->installed);
        } catch (const std::exception&) {
            of(pending[i]) = true;
        }
    }
    if (isNew[kCertificateSwap] == isNew[kPrivateKeySwap]) return std::nullopt;
    return std::wstring{isNew[kCertificateSwap] ? kCertificateNewKeyOld : kCertificateOldKeyNew};
}

// Renames the new files into place in order, then flushes them: the closing lines say the pair
// is new only once it is on the disk (a rename within one volume is not written through). If a
// step fails, the files already renamed get their backup back, so that the pair is never mixed;
// if that fails too, the error says so.
void InstallTemporaryCopies(FileSystem& files, const CredentialPaths& paths,
                            const Pending& pending) {
    std::size_t installed = 0;
    try {
        for (; installed < pending.size(); ++installed) {
            const auto* swap = pending[installed];
            files.MoveReplacing(TemporaryFor(swap->installed), swap->installed);
        }
        for (const auto* swap : pending) files.Flush(swap->installed);
    } catch (const SystemError& error) {
        // The first failure is the one to report; it happened first.
        if (auto mixed = PutBackupsBack(files, paths, pending, installed)) {
            throw error.Remarked(std::move(*mixed));
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
    const auto swap = [&](std::wstring_view installedFile, std::wstring_view incomingFile) {
        auto installed = Join(installFolder, installedFile);
        auto backup = installed + std::wstring{kBackupSuffix};
        return Swap{std::move(installed), std::move(backup), Join(applicationFolder, incomingFile)};
    };
    return {{swap(certificateFile, kNewCertificateFile), swap(privateKeyFile, kNewPrivateKeyFile)},
            Join(applicationFolder, kChecksumsFile)};
}

void ReplaceCredentials(FileSystem& systemFiles, Pause& pause, const CredentialPaths& paths) {
    PatientFileSystem files{systemFiles, pause};
    CheckPackage(files, paths);
    // Temporary files an interrupted run may have left are ours; they go first.
    if (auto failure = RemoveTemporaryFiles(files, paths)) throw *failure;
    const auto pending = PendingSwaps(files, paths);
    CheckBeforeAnyChange(files, pending);

    // All copies are written and flushed before the first rename, and the renames follow one
    // another, backups first: a crash can find the certificate and key from different pairs
    // only between the last two renames, and the next run completes the pair.
    try {
        WriteTemporaryCopies(files, pending);
        for (const auto* swap : pending)
            files.MoveReplacing(TemporaryFor(swap->backup), swap->backup);
        InstallTemporaryCopies(files, paths, pending);
    } catch (...) {
        RemoveTemporaryFilesQuietly(files, paths);
        throw;
    }
}

}  // namespace kdu
