#pragma once

// The window's DPI, the window size for a client area and the message font at a DPI: with the
// per-monitor functions of Windows 10 where the running Windows has them, and with their
// Windows 7 and 8.1 equivalents where not, giving the same pixels.

#include <windows.h>

#include <utility>

#include "platform/win32/NewerWindowsFunctions.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {

class DpiScaling {
public:
    explicit DpiScaling(DpiFunctions functions) : functions_(std::move(functions)) {}

    // The DPI of the monitor the window is on (GetDpiForWindow; GetDpiForMonitor on 8.1);
    // Windows 7 has one DPI for all monitors, the screen's.
    UINT WindowDpi(HWND window) const;
    // The outer size of a window of this style whose client area is client, at dpi.
    SIZE WindowSize(SIZE client, DWORD style, DWORD exStyle, UINT dpi) const;
    // The system's message font (the one dialogs use), at dpi. Null if it cannot be made.
    UniqueFont MessageFont(UINT dpi) const;
    // Has the window's frame follow its DPI where the system would not by itself; at
    // WM_NCCREATE.
    void ScaleFrame(HWND window) const noexcept { EnableNonClientDpiScaling(functions_, window); }

private:
    DpiFunctions functions_;
};

}  // namespace kdu::win32
