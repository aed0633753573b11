#include "platform/win32/NamedMutexRunLock.h"

#include "platform/win32/SystemErrors.h"

namespace kdu::win32 {

void NamedMutexRunLock::Acquire() {
    if (!mutex_) {
        mutex_.reset(::CreateMutexW(nullptr, FALSE, L"Local\\KestovaDesktopUpdater.Replacement"));
        if (!mutex_) throw LastError();
    }
    // Abandoned: the copy that held it ended in the middle of its run. Its files are each whole,
    // and this run completes the pair.
    const DWORD waited = ::WaitForSingleObject(mutex_.get(), INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) throw LastError();
}

void NamedMutexRunLock::Release() noexcept { ::ReleaseMutex(mutex_.get()); }

}  // namespace kdu::win32
