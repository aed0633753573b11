#pragma once

#include <windows.h>

#include <string>

#include "platform/Ports.h"

namespace kdu::win32 {

// The end of the session as a window with a run sees it. While a run is under way, the session's
// end is refused and Windows shows the reason (ShutdownBlockReasonCreate); once none is, it is
// allowed. An end that comes all the same (a forced shutdown, "shut down anyway", a critical end)
// is answered only where no rename is half done (Win32Pause), and the run changes nothing more.
class ShutdownBlocker final : public ShutdownBlock {
public:
    ShutdownBlocker() = default;
    ShutdownBlocker(HWND window, std::wstring reason)
        : window_(window), reason_(std::move(reason)) {}

    void RunStarts() override;
    void RunEnds() noexcept override;
    bool Running() const noexcept { return running_; }

    // The window procedure's answers: WM_QUERYENDSESSION's result, and what WM_ENDSESSION does.
    LRESULT OnQueryEndSession() const noexcept { return running_ ? FALSE : TRUE; }
    void OnEndSession(bool ending) const noexcept;

private:
    HWND window_ = nullptr;
    std::wstring reason_;
    bool running_ = false;
};

}  // namespace kdu::win32
