#pragma once

#include "platform/Ports.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {

// The install folder's lock: a file there, open with no sharing at all, so that a second run
// from any session, user or elevation cannot open it. FILE_FLAG_DELETE_ON_CLOSE makes the system
// remove it when the handle closes, which it does for a process that is killed too.
class LockFileRunLock final : public RunLock {
public:
    bool TryAcquire(const std::wstring& lockFile) override;
    void Release() noexcept override;

private:
    UniqueFile file_;
};

}  // namespace kdu::win32
