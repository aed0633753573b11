#pragma once

// What an interrupted run left in the install folder, settled under the lock before a run
// changes anything: temporary files, and the pair a restore staged (CredentialRestore.cpp).

#include <optional>
#include <string>
#include <vector>

#include "platform/Ports.h"
#include "update/CredentialReplacement.h"

namespace kdu {

// What settling found: a restore cut short that it completed, and staged files it set aside.
struct Leftovers {
    bool restoreCompleted = false;
    std::vector<std::wstring> setAside;
};
// What becomes of a restore cut short: a restore completes it (it is the swap asked for); an
// update rolls it back, so that the backups it makes hold the pair that was installed before
// that restore, which never finished.
enum class CutShortRestore { Complete, RollBack };

// What an interrupted run left goes first, under the lock, so that no run in progress loses it:
// temporary files (each a copy of a file under another name) are removed, then a restore cut
// short is completed or rolled back, or staged files left over go.
Leftovers SettleLeftovers(FileSystem& files, Pause& pause, const CredentialPaths& paths,
                          CutShortRestore what);

// A file a run left and will not use goes: removed, and first set aside (SetAside) unless its
// content is elsewhere in the folder; the set-aside name is added to setAside.
void Discard(FileSystem& files, const Swap& swap, const std::wstring& path,
             const std::optional<Bytes>& content, bool elsewhere,
             std::vector<std::wstring>& setAside);

// A copy of a content no other name holds, set aside under the one name its installed file's
// copies have (kSetAsideSuffix): that name, or nothing where it already held the content.
std::optional<std::wstring> SetAside(FileSystem& files, const Swap& swap, const std::wstring& path,
                                     const Bytes& content);

// A restore's staged pair, each file on its own and quietly.
void RemoveStagedPair(FileSystem& files, const CredentialPaths& paths) noexcept;

// A failure after staged files were set aside says where they are, as a success does.
SystemError SayingWhereSetAside(const SystemError& error,
                                const std::vector<std::wstring>& setAside);

}  // namespace kdu
