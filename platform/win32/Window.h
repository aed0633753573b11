#pragma once

#include <windows.h>

namespace kdu::win32 {

// Base of a top-level window: the static window procedure finds the C++ object (stored at
// WM_NCCREATE) and forwards to HandleMessage. No exception ever unwinds through user32.
class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window() = default;

    HWND Handle() const noexcept { return hwnd_; }

protected:
    static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Called with the message that threw; the window goes on.
    virtual void OnUnexpectedError(const char* what) noexcept;

    HWND hwnd_ = nullptr;
};

}  // namespace kdu::win32
