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

// Installed files the update refuses to replace (ERROR_NOT_SUPPORTED), with why, for the user.
inline constexpr std::uint32_t kNotSupported = 50;  // ERROR_NOT_SUPPORTED
inline constexpr std::wstring_view kSymbolicLinkRefused =
    L"此檔案是符號連結（symbolic "
    L"link）。本程式不更新符號連結，以免只換掉連結而未換掉它所指的檔案。";
inline constexpr std::wstring_view kHardLinkRefused =
    L"此檔案有多個硬式連結（hard link）。替換它會讓其他名稱仍保留舊的內容，因此本程式不更新它。";

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

// Writes source over the existing target so that target is at every moment wholly old or wholly
// new: a flushed temporary copy beside it, made like target (permissions, attributes,
// encryption), renamed over it. No temporary file survives a failure.
void ReplaceFileContent(FileSystem& files, const std::wstring& source, const std::wstring& target);

// Backs up and replaces the installed certificate and private key. Before the first change it
// checks that the run can succeed. An installed file that already holds its new content is left
// alone, and so is its backup, so the backups keep the pair from before the first run; one that
// is a symbolic link or has other hard links is refused. Every copy is written beside its target
// before the first rename, made like the installed file (the backup too, so that the old key's
// copy is as protected as the key was). The installed files are flushed before the run returns.
// If anything fails, the installed pair is left as it was (a renamed file gets its backup back)
// and no temporary file stays.
void ReplaceCredentials(FileSystem& files, const CredentialPaths& paths);

}  // namespace kdu
