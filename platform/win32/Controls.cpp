#include "platform/win32/Controls.h"

#include <string>

#include "platform/win32/SystemErrors.h"

namespace kdu::win32 {
namespace {

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, const std::wstring& text) {
    return ::SendMessageW(hwnd, message, wParam, reinterpret_cast<LPARAM>(text.c_str()));
}

void CheckListResult(LRESULT result) {
    if (result == LB_ERRSPACE) throw ErrorFromCode(ERROR_NOT_ENOUGH_MEMORY);
    if (result == LB_ERR) throw ErrorFromCode(ERROR_INVALID_INDEX);
}

}  // namespace

void ListBoxControl::Append(std::wstring_view text) {
    CheckListResult(Send(hwnd_, LB_ADDSTRING, 0, std::wstring{text}));
}

int ListBoxControl::Count() const {
    const LRESULT count = ::SendMessageW(hwnd_, LB_GETCOUNT, 0, 0);
    CheckListResult(count);
    return static_cast<int>(count);
}

std::wstring ListBoxControl::Text(int index) const {
    const auto item = static_cast<WPARAM>(index);
    const LRESULT length = ::SendMessageW(hwnd_, LB_GETTEXTLEN, item, 0);
    CheckListResult(length);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        ::SendMessageW(hwnd_, LB_GETTEXT, item, reinterpret_cast<LPARAM>(text.data()));
    CheckListResult(copied);
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

void ListBoxControl::Replace(int index, std::wstring_view text) {
    const auto item = static_cast<WPARAM>(index);
    CheckListResult(::SendMessageW(hwnd_, LB_DELETESTRING, item, 0));
    CheckListResult(Send(hwnd_, LB_INSERTSTRING, item, std::wstring{text}));
}

void ListBoxControl::Repaint() {
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    ::UpdateWindow(hwnd_);
    // Hands the painted list to the display now. Wine shows a busy thread's painting only
    // when the thread looks at its queue; a look at paint messages alone takes no input and
    // runs no other window's code, and on Windows it finds nothing to do.
    MSG ignored{};
    ::PeekMessageW(&ignored, hwnd_, WM_PAINT, WM_PAINT, PM_NOREMOVE | PM_QS_PAINT);
}

void ButtonControl::Disable() {
    if (heir_ && ::GetFocus() == hwnd_) ::SetFocus(heir_);
    ::EnableWindow(hwnd_, FALSE);
}

}  // namespace kdu::win32
