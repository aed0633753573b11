#include "platform/win32/Window.h"

#include <exception>
#include <string>

namespace kdu::win32 {

LRESULT CALLBACK Window::WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);

    try {
        const LRESULT result = self->HandleMessage(message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
        }
        return result;
    } catch (const std::exception& error) {
        self->OnUnexpectedError(error.what());
    } catch (...) {
        self->OnUnexpectedError("unknown exception");
    }
    return 0;
}

void Window::OnUnexpectedError(const char* what) noexcept {
    std::wstring text;
    for (const char* c = what; *c; ++c) text.push_back(static_cast<unsigned char>(*c));
    ::MessageBoxW(hwnd_, text.c_str(), nullptr, MB_OK | MB_ICONERROR);
}

}  // namespace kdu::win32
