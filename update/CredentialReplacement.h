#pragma once

#include <string>
#include <string_view>

#include "platform/Ports.h"

namespace kdu {

inline constexpr std::wstring_view kNewCertificateFile = L"data1.bin";
inline constexpr std::wstring_view kNewPrivateKeyFile = L"data2.bin";
inline constexpr std::wstring_view kBackupSuffix = L"_old";
// A file being written is first written under its own name with this suffix, then renamed.
inline constexpr std::wstring_view kTemporarySuffix = L".KestovaDesktopUpdater.tmp";

struct CredentialPaths {
    std::wstring installedCertificate;
    std::wstring certificateBackup;
    std::wstring newCertificate;
    std::wstring installedPrivateKey;
    std::wstring privateKeyBackup;
    std::wstring newPrivateKey;
};

// The paths of one run, by plain concatenation from the application and install folders.
CredentialPaths ComposePaths(std::wstring_view applicationFolder, std::wstring_view installFolder,
                             std::wstring_view certificateFile, std::wstring_view privateKeyFile);

// Writes source over target so that target is at every moment wholly old or wholly new: a
// flushed temporary copy beside it, renamed over it. No temporary file survives a failure.
void ReplaceFileContent(FileSystem& files, const std::wstring& source, const std::wstring& target);

// Backs up and replaces the installed certificate and private key. Before the first change it
// checks that the run can succeed. An installed file that already holds its new content is left
// alone, and so is its backup, so the backups keep the pair from before the first run. Every
// copy is written beside its target before the first rename; if anything fails, the installed
// pair is left as it was (a renamed certificate gets its backup back) and no temporary file stays.
void ReplaceCredentials(FileSystem& files, const CredentialPaths& paths);

}  // namespace kdu
