#pragma once

#include "platform/Ports.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {

// The install folder's lock: a file there, open with no sharing at all, so that a second run
// from any session, user or elevation cannot open it. FILE_FLAG_DELETE_ON_CLOSE makes the system
// remove it when the handle closes, which it does for a process that is killed too.
//
// A lock file that cannot be opened so is judged by what the system says of it next:
// - Held: another run has it open; or it is being deleted as its run ends (Windows 7 and 8.1
//   then deny even GetFileAttributesW); or this user may not open it at all. The run waits.
// - Leftover: it is there and opens with no sharing, without DELETE, so no run holds it: one
//   that another user's run left at a power cut, which this user may not delete. It is taken as
//   the lock as it is, and stays for the next run.
// - Refused: no lock file can be made (a folder this user may not write to, or not there).
enum class LockVerdict { Held, Leftover, Refused };
// openError: the open as the lock; attributesError: GetFileAttributesW's (NO_ERROR: the file is
// there); plainOpenError: the open without DELETE and with no sharing (NO_ERROR: it opened).
LockVerdict JudgeLockFile(DWORD openError, DWORD attributesError, DWORD plainOpenError) noexcept;

class LockFileRunLock final : public RunLock {
public:
    bool TryAcquire(const std::wstring& lockFile) override;
    void Release() noexcept override;

private:
    UniqueFile file_;
};

}  // namespace kdu::win32
