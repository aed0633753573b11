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

// Backs up and replaces the installed certificate and private key.
// - It first works out what is pending, only reading: an installed file that already holds its
//   new content is left alone, and so is its backup, so the backups keep the pair from before
//   the first run. Then it checks, before any change, that the files it will write can be
//   written; one that is a symbolic link or has other hard links is refused.
// - Every copy is written beside its target before the first rename, made like the installed
//   file (the backup too, so that the old key's copy is as protected as the key was). The
//   installed files are flushed before the run returns.
// - A file step that meets a short lock (antivirus, indexer, sync client) is tried again, with
//   pauses, for about two seconds.
// - If anything fails, the installed pair is left as it was (a renamed file gets its backup
//   back) and no temporary file stays. If even that fails, the error's remark says which file
//   is new and that running the update again completes the pair.
void ReplaceCredentials(FileSystem& files, Pause& pause, const CredentialPaths& paths);

// The pauses between the tries of a file step that meets a short lock: 2 seconds in all.
inline constexpr unsigned kRetryPausesMs[] = {50, 100, 200, 400, 500, 750};

// The remark of an undo that failed: which of the pair is new, and what to do.
inline constexpr std::wstring_view kCertificateNewKeyOld =
    L"憑證已是新的，私密金鑰仍是舊的，兩者不成一組。請再執行一次更新，即可完成更新。";
inline constexpr std::wstring_view kCertificateOldKeyNew =
    L"憑證仍是舊的，私密金鑰已是新的，兩者不成一組。請再執行一次更新，即可完成更新。";

}  // namespace kdu
