#pragma once

#include "platform/Ports.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {

// The install folder's lock, in two parts:
// - a named mutex in the Global namespace, its name from the install folder's full path: every
//   run on this machine, from any session, user or elevation, waits for it; the system gives it
//   up with the last process that holds it, however that ends, so none is ever left behind;
// - a lock file in the folder, open with no sharing at all, so that a run on another PC (a folder
//   on a share) cannot open it. FILE_FLAG_DELETE_ON_CLOSE makes the system remove it when the
//   handle closes, which it does for a process that is killed too.
//
// A lock file that cannot be opened so is judged by what the system says of it next:
// - Held: another run has it open; or it is being deleted as its run ends (Windows 7 and 8.1
//   then deny even GetFileAttributesW). The run waits.
// - Leftover: it is there and opens with no sharing, without DELETE, so no run holds it: one
//   that another user's run left at a power cut, which this user may not delete. It is taken as
//   the lock as it is, and stays for the next run.
// - NotOpenable: it is there, and this user may not open it at all: another user's run left it
//   at a power cut (a run of this machine would hold the mutex, which this run holds). The mutex
//   is the lock, and the file stays.
// - Refused: no lock file can be made (a folder this user may not write to, or not there).
enum class LockVerdict { Held, Leftover, NotOpenable, Refused };
// openError: the open as the lock; attributesError: GetFileAttributesW's (NO_ERROR: the file is
// there); plainOpenError: the open without DELETE and with no sharing (NO_ERROR: it opened).
LockVerdict JudgeLockFile(DWORD openError, DWORD attributesError, DWORD plainOpenError) noexcept;

// The mutex's name for a lock file: one per install folder, however its path is written.
std::wstring MachineLockName(const std::wstring& lockFile);

class LockFileRunLock final : public RunLock {
public:
    bool TryAcquire(const std::wstring& lockFile) override;
    void Release() noexcept override;

private:
    bool TakeMachineLock(const std::wstring& lockFile);
    bool TakeLockFile(const std::wstring& lockFile);

    UniqueKernelObject mutex_;  // owned while it is set
    UniqueFile file_;
};

}  // namespace kdu::win32
