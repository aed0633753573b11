#include "platform/win32/ShutdownBlocker.h"

#include "platform/win32/Win32Pause.h"

namespace kdu::win32 {

void ShutdownBlocker::RunStarts() {
    running_ = true;
    ::ShutdownBlockReasonCreate(window_, reason_.c_str());
}

void ShutdownBlocker::RunEnds() noexcept {
    ::ShutdownBlockReasonDestroy(window_);
    running_ = false;
}

// Windows may end the process as soon as this returns. A run that is waiting (it has no rename
// half done: none waits inside a change) stops before it changes anything more.
void ShutdownBlocker::OnEndSession(bool ending) const noexcept {
    if (ending) Win32Pause::EndOfSession();
}

}  // namespace kdu::win32
