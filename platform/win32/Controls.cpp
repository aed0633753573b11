#include "platform/win32/Controls.h"

#include <oleacc.h>

#include <exception>
#include <string>

#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {
namespace {

// The dynamic annotation service and the name property (oleacc.h declares them; defined here, so
// that no import library brings oleacc.dll).
constexpr CLSID kAccPropServices{
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID kIAccPropServices{
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr MSAAPROPID kNameProperty{
    0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};

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

void ListBoxControl::Select(int index) {
    CheckListResult(::SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(index), 0));
}

void ButtonControl::Disable() {
    if (heir_ && ::GetFocus() == hwnd_) ::SetFocus(heir_);
    ::EnableWindow(hwnd_, FALSE);
}

namespace {

// The dynamic annotation service, in the apartment the program keeps for its life.
ComPtr<IAccPropServices> AnnotationService() {
    ComPtr<IAccPropServices> services;
    if (FAILED(::CoCreateInstance(kAccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                  kIAccPropServices, services.PutVoid()))) {
        return {};
    }
    return services;
}

}  // namespace

void NameForScreenReaders(HWND control, const std::wstring& name) noexcept {
    ::SetWindowTextW(control, name.c_str());
    if (const auto services = AnnotationService()) {
        services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                 kNameProperty, name.c_str());
    }
}

void ForgetScreenReaderName(HWND control) noexcept {
    if (const auto services = AnnotationService()) {
        services->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                 &kNameProperty, 1);
    }
}

}  // namespace kdu::win32
