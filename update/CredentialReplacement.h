#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ports.h"

namespace kdu {

inline constexpr std::wstring_view kNewCertificateFile = L"data1.bin";
inline constexpr std::wstring_view kNewPrivateKeyFile = L"data2.bin";
inline constexpr std::wstring_view kBackupSuffix = L"_old";
// A file being written is first written under its own name with this suffix, then renamed.
inline constexpr std::wstring_view kTemporarySuffix = L".KestovaDesktopUpdater.tmp";
// A restore stages the pair it puts back under the installed names with this suffix, until the
// swap is done.
inline constexpr std::wstring_view kStagedSuffix = L".KestovaDesktopUpdater.restore";
// A staged file that is not to be installed, and whose content is nowhere else in the folder, is
// set aside under the installed name with this suffix (then "-2", "-3", ... where that is taken).
inline constexpr std::wstring_view kSetAsideSuffix = L".KestovaDesktopUpdater.stale";
// The install folder's lock, there only while a run holds it.
inline constexpr std::wstring_view kLockFile = L"KestovaDesktopUpdater.lock";
// While an update changes the backups, it keeps each old one under its name with this suffix,
// and says in the journal what it puts in place, until the new pair is in place and flushed:
// a run cut short is then completed or rolled back by the next one, and loses nothing.
inline constexpr std::wstring_view kPreviousSuffix = L".KestovaDesktopUpdater.previous";
inline constexpr std::wstring_view kJournalFile = L"KestovaDesktopUpdater.journal";

// One installed file, the copy of it to keep, and the new file that takes its place.
struct Swap {
    std::wstring installed;
    std::wstring backup;
    std::wstring incoming;
};

struct CredentialPaths {
    // The certificate, then the private key: the order of the checks and the renames.
    std::array<Swap, 2> swaps;
    // The package's list of SHA-256 digests beside the incoming files; it may be absent.
    std::wstring checksums;
    // The install folder's lock file.
    std::wstring lockFile;
    // An update's journal, there while it changes the backups and the pair.
    std::wstring journal;
};
inline constexpr std::size_t kCertificateSwap = 0;
inline constexpr std::size_t kPrivateKeySwap = 1;

// Where a restore stages the content it puts back in place of swap's installed file.
inline std::wstring StagedPathOf(const Swap& swap) {
    return swap.installed + std::wstring{kStagedSuffix};
}

// Where an update keeps swap's old backup while it changes the folder.
inline std::wstring PreviousPathOf(const Swap& swap) {
    return swap.backup + std::wstring{kPreviousSuffix};
}

// The paths of one run, by plain concatenation from the application and install folders.
CredentialPaths ComposePaths(std::wstring_view applicationFolder, std::wstring_view installFolder,
                             std::wstring_view certificateFile, std::wstring_view privateKeyFile);

// Backs up and replaces the installed certificate and private key.
// - Before anything else, the incoming files must be the package's certificate and key
//   (CheckPackage, with the digests the running program carries): a matching pair whose leaf
//   has not expired by the services' clock; a refusal writes nothing. Each is read once: what is
//   checked is what is written.
// - Then it takes the install folder's lock, waiting for another run for at most
//   kLockWaitMs; everything from here to the last flush happens under it. Temporary files an
//   interrupted run left are removed first.
// - It works out what is pending, only reading: an installed file that already holds its new
//   content is left alone, and so is its backup, so the backups keep the pair from before the
//   first run. Where only one half changes (a certificate renewed with its key) and the
//   installed files are one pair, the other half is backed up too: the backups are always the
//   whole pair that was replaced. A certificate older than the installed one is refused
//   (CheckNotOlder). Then it checks, before any change, that the files it will rename over can
//   be renamed over now; one that is a symbolic link, a junction or has other hard links is
//   refused.
// - Every copy is written beside its target before the first rename, made like the installed
//   file (the backup too, so that the old key's copy is as protected as the key was), and kept
//   open until it is renamed into place and flushed through the same handle.
// - A file step that meets a short lock (antivirus, indexer, sync client) is tried again, with
//   pauses, for about two seconds.
// - If anything fails, the installed pair is left as it was (a renamed file gets its backup
//   back) and no file the run made stays. If even that fails, the error's remark says which
//   file is new and that running the update again completes the pair.
// - Where no lock file can be made in the install folder (this user may not write there, or it
//   is not there), nothing can be changed there: the run succeeds only if the pair is already
//   the new one, and otherwise fails as the files say, or as the lock did.
// - A restore that was cut short (RestoreCredentials) is rolled back first, under the lock, so
//   that the backups hold the pair installed before that restore, which never finished. Files
//   a restore staged that are not a cut-short restore's (FolderState) are never installed:
//   each is removed where its content is in the folder under another name, else set aside
//   (kSetAsideSuffix) first; where one cannot go, nothing is changed. A failure's remark names
//   what was set aside.
struct ReplacementReport {
    bool pairUnverified = false;         // the key could not be compared with the certificate
    bool replaced = false;               // this run put the pair in place (else it already was)
    std::vector<std::wstring> setAside;  // staged files set aside in this run
};
ReplacementReport ReplaceCredentials(const Services& services, const CredentialPaths& paths);

// Swaps the installed pair with its backups: afterwards the backups hold the pair that was
// installed, so a second restore returns to where the first started. It needs no package. Where
// the backups hold the installed pair there is nothing to swap (the report's replaced is false).
// Where an installed half is gone, the whole backups are installed all the same.
// - Under the install folder's lock, as the update. A restore that was cut short is completed
//   first, and is then the swap asked for: nothing more is done. Staged files left over go
//   first, as in the update.
// - The backups must be a pair the product can use (the update's checks, but not the downgrade
//   check): Failure::BackupNotAPair, BackupExpired; a missing one fails as the system says.
//   Refused, nothing is changed.
// - The backups' content is first staged beside the installed files (kStagedSuffix); then the
//   update's steps put it in place, with each installed file as its backup, and the staged
//   pair goes. A rename over a backup thus never leaves a content in a temporary file alone: a
//   kill at any moment leaves all four contents under some name in the install folder, and the
//   next restore or update completes the swap.
// - A failure is undone as in the update, and the backups get their content back. Where the
//   undo fails, the remark says which of the pair is back (kCertificateBackKeyNot,
//   kKeyBackCertificateNot), and the next restore completes the swap.
ReplacementReport RestoreCredentials(const Services& services, const CredentialPaths& paths);

// What a restore would do, for the question asked before it: the installed certificate (empty if
// it cannot be read) and the certificate it would put back (a restore that was cut short is
// completed with the pair it staged). Only reads; refuses as RestoreCredentials would.
struct RestorePreview {
    Bytes installedCertificate;
    Bytes certificateToPutBack;
    bool nothingToSwap = false;  // the backups hold the installed pair
};
RestorePreview PreviewRestore(FileSystem& files, const CredentialPaths& paths, std::int64_t now);

// The pauses between the tries of a file step that meets a short lock: 2 seconds in all.
inline constexpr unsigned kRetryPausesMs[] = {50, 100, 200, 400, 500, 750};
// How long a run waits for another to give up the install folder's lock, in pauses of
// kLockPollMs, before it refuses (Failure::AnotherRun).
inline constexpr unsigned kLockWaitMs = 30000;
inline constexpr unsigned kLockPollMs = 250;

// The remark of an undo that failed: which of the pair is new, and what to do.
inline constexpr std::wstring_view kCertificateNewKeyOld =
    L"憑證已是新的，私密金鑰仍是舊的，兩者不成一組。請再執行一次更新，即可完成更新。";
inline constexpr std::wstring_view kCertificateOldKeyNew =
    L"憑證仍是舊的，私密金鑰已是新的，兩者不成一組。請再執行一次更新，即可完成更新。";

// What a failure says of the backups it could not give their content back, before and after
// their paths (each now holds the content of its installed file; the other copy of the old one
// is kept in the folder).
inline constexpr std::wstring_view kBackupNotPutBack = L"無法還原以下備份檔案的原本內容：";
inline constexpr std::wstring_view kBackupNotPutBackEnd =
    L"。它現在存放的是目前安裝的檔案的內容；原本的內容仍保存在同一資料夾中，"
    L"再執行一次本程式即可還原。";

// What a run says of the staged files it set aside, followed by their paths.
inline constexpr std::wstring_view kSetAside =
    L"先前中斷的換回（/restore）留下了與目前的憑證和私密金鑰不符的暫存檔。本程式沒有使用它，"
    L"已將它移到：";
std::wstring SetAsideText(const std::vector<std::wstring>& setAside);

inline constexpr std::wstring_view kCertificateBackKeyNot =
    L"憑證已換回先前的，私密金鑰仍是目前的，兩者不成一組。請再執行一次 /restore，即可完成換回。";
inline constexpr std::wstring_view kKeyBackCertificateNot =
    L"憑證仍是目前的，私密金鑰已換回先前的，兩者不成一組。請再執行一次 /restore，即可完成換回。";

}  // namespace kdu
