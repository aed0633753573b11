#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/Ports.h"

namespace kdu {

inline constexpr std::wstring_view kNewCertificateFile = L"data1.bin";
inline constexpr std::wstring_view kNewPrivateKeyFile = L"data2.bin";
inline constexpr std::wstring_view kBackupSuffix = L"_old";
// A file being written is first written under its own name with this suffix, then renamed.
inline constexpr std::wstring_view kTemporarySuffix = L".KestovaDesktopUpdater.tmp";
// The install folder's lock, there only while a run holds it.
inline constexpr std::wstring_view kLockFile = L"KestovaDesktopUpdater.lock";

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
};
inline constexpr std::size_t kCertificateSwap = 0;
inline constexpr std::size_t kPrivateKeySwap = 1;

// The paths of one run, by plain concatenation from the application and install folders.
CredentialPaths ComposePaths(std::wstring_view applicationFolder, std::wstring_view installFolder,
                             std::wstring_view certificateFile, std::wstring_view privateKeyFile);

// Backs up and replaces the installed certificate and private key.
// - Before anything else, the incoming files must be the package's certificate and key
//   (CheckPackage): a matching pair whose leaf has not expired by clock; a refusal writes
//   nothing. Each is read once: what is checked is what is written.
// - Then it takes the install folder's lock, waiting for another run for at most
//   kLockWaitMs; everything from here to the last flush happens under it. Temporary files an
//   interrupted run left are removed first.
// - It works out what is pending, only reading: an installed file that already holds its new
//   content is left alone, and so is its backup, so the backups keep the pair from before the
//   first run. A certificate older than the installed one is refused (CheckNotOlder). Then it
//   checks, before any change, that the files it will rename over can be
//   renamed over now; one that is a symbolic link, a junction or has other hard links is
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
struct ReplacementReport {
    bool pairUnverified = false;  // the key could not be compared with the certificate
};
ReplacementReport ReplaceCredentials(FileSystem& files, Pause& pause, RunLock& runLock,
                                     Clock& clock, const CredentialPaths& paths);

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

}  // namespace kdu
