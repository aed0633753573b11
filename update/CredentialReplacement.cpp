#include "update/CredentialReplacement.h"

#include <exception>
#include <vector>

#include "platform/Paths.h"

namespace kdu {
namespace {

// Win32 error numbers for failures found here rather than by the system.
constexpr std::uint32_t kInvalidData = 13;  // ERROR_INVALID_DATA

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

void CheckBeforeAnyChange(FileSystem& files, const CredentialPaths& paths) {
    CheckNewFile(files, paths.newCertificate);
    CheckNewFile(files, paths.newPrivateKey);
    for (const auto* installed : {&paths.installedCertificate, &paths.installedPrivateKey}) {
        files.SizeOf(*installed);  // there, and readable for its backup
        files.CheckReplaceable(*installed);
    }
    for (const auto* backup : {&paths.certificateBackup, &paths.privateKeyBackup}) {
        if (files.Exists(*backup)) files.CheckReplaceable(*backup);
    }
}

// The path must name the file itself, and its only name: renaming over a symbolic link would
// replace the link and leave the file it points to, and over one of several hard links would
// leave the other names with the old content.
void CheckReplaceableAsItself(FileSystem& files, const std::wstring& installed) {
    const FileFacts facts = files.Inspect(installed);
    if (facts.reparsePoint)
        throw SystemError{kNotSupported, std::wstring{kSymbolicLinkRefused}, installed};
    if (facts.links > 1)
        throw SystemError{kNotSupported, std::wstring{kHardLinkRefused}, installed};
}

// One installed file, the copy of it to keep, and the file that replaces it.
struct Replacement {
    const std::wstring* installed;
    const std::wstring* backup;
    const std::wstring* replacement;
};

void RemoveTemporaryFiles(FileSystem& files, const CredentialPaths& paths) {
    for (const auto* target : {&paths.certificateBackup, &paths.installedCertificate,
                               &paths.privateKeyBackup, &paths.installedPrivateKey}) {
        files.Remove(TemporaryFor(*target));
    }
}

void RemoveTemporaryFilesQuietly(FileSystem& files, const CredentialPaths& paths) noexcept {
    try {
        RemoveTemporaryFiles(files, paths);
    } catch (const std::exception&) {
    }
}

// An installed file that already holds its new content is left alone, and so is its backup.
std::vector<Replacement> PendingReplacements(FileSystem& files, const CredentialPaths& paths) {
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

void WriteTemporaryCopies(FileSystem& files, const std::vector<Replacement>& pending) {
    for (const auto& step : pending) {
        files.CopyToNewFile(*step.installed, TemporaryFor(*step.backup), *step.installed);
        files.CopyToNewFile(*step.replacement, TemporaryFor(*step.installed), *step.installed);
    }
}

// Renames the new files into place in order, then flushes them: the closing lines say the pair
// is new only once it is on the disk (a rename within one volume is not written through). If a
// step fails, the files already renamed get their backup back, so that the pair is never mixed.
void InstallTemporaryCopies(FileSystem& files, const std::vector<Replacement>& pending) {
    std::size_t installed = 0;
    try {
        for (; installed < pending.size(); ++installed) {
            const auto& step = pending[installed];
            files.MoveReplacing(TemporaryFor(*step.installed), *step.installed);
        }
        for (const auto& step : pending) files.Flush(*step.installed);
    } catch (...) {
        for (std::size_t i = 0; i < installed; ++i) {
            try {
                ReplaceFileContent(files, *pending[i].backup, *pending[i].installed);
            } catch (const std::exception&) {
                // The first failure is the one to report; it happened first.
            }
        }
        throw;
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

void ReplaceCredentials(FileSystem& files, const CredentialPaths& paths) {
    // Temporary files an interrupted run may have left are ours; they go first.
    RemoveTemporaryFiles(files, paths);
    CheckBeforeAnyChange(files, paths);
    const auto pending = PendingReplacements(files, paths);

    // All copies are written and flushed before the first rename, and the renames follow one
    // another, backups first: a crash can find the certificate and key from different pairs
    // only between the last two renames, and the next run completes the pair.
    try {
        WriteTemporaryCopies(files, pending);
        for (const auto& step : pending) {
            files.MoveReplacing(TemporaryFor(*step.backup), *step.backup);
        }
        InstallTemporaryCopies(files, pending);
    } catch (...) {
        RemoveTemporaryFilesQuietly(files, paths);
        throw;
    }
}

}  // namespace kdu
