#include "update/CredentialReplacement.h"

#include <exception>

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

// Keeps a copy of the installed file, then installs the new one; false if it was already new.
bool BackUpAndReplace(FileSystem& files, const std::wstring& installed, const std::wstring& backup,
                      const std::wstring& replacement) {
    if (files.SameContent(installed, replacement)) return false;
    ReplaceFileContent(files, installed, backup);
    ReplaceFileContent(files, replacement, installed);
    return true;
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
        files.CopyToNewFile(source, temporary);
        files.MoveReplacing(temporary, target);
    } catch (...) {
        RemoveQuietly(files, temporary);
        throw;
    }
}

void ReplaceCredentials(FileSystem& files, const CredentialPaths& paths) {
    // Temporary files an interrupted run may have left are ours; they go first.
    for (const auto* target : {&paths.certificateBackup, &paths.installedCertificate,
                               &paths.privateKeyBackup, &paths.installedPrivateKey}) {
        files.Remove(TemporaryFor(*target));
    }
    CheckBeforeAnyChange(files, paths);

    const bool certificateChanged = BackUpAndReplace(files, paths.installedCertificate,
                                                     paths.certificateBackup, paths.newCertificate);
    try {
        BackUpAndReplace(files, paths.installedPrivateKey, paths.privateKeyBackup,
                         paths.newPrivateKey);
    } catch (...) {
        // The new certificate must not stay beside the old key: put the previous one back.
        if (certificateChanged) {
            try {
                ReplaceFileContent(files, paths.certificateBackup, paths.installedCertificate);
            } catch (const std::exception&) {
                // The first failure is the one to report; it happened first.
            }
        }
        throw;
    }
}

}  // namespace kdu
