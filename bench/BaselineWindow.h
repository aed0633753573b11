#pragma once

// The top-level window both baseline programs show: a plain window that ends the program when
// it is closed, and the message loop that runs it.

#include <windows.h>

namespace kdu::bench {

inline LRESULT CALLBACK BaselineWindowProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// Registers the class and creates the window, not yet shown; nullptr if the system could not.
inline HWND CreateBaselineWindow(HINSTANCE instance, const wchar_t* className,
                                 const wchar_t* caption, int width, int height) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = BaselineWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    if (!::RegisterClassExW(&windowClass)) return nullptr;
    return ::CreateWindowExW(0, className, caption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, width, height, nullptr, nullptr, instance, nullptr);
}

// Shows the window and runs its messages until it is closed; the exit code.
inline int ShowAndRun(HWND window, int showCommand) {
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    return static_cast<int>(message.wParam);
}

}  // namespace kdu::bench
