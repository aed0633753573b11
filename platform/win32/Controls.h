#pragma once

#include <windows.h>

#include "platform/Ports.h"

namespace kdu::win32 {

// A standard LISTBOX control, through its messages.
class ListBoxControl final : public ListBox {
public:
    explicit ListBoxControl(HWND hwnd = nullptr) noexcept : hwnd_(hwnd) {}

    void Append(std::wstring_view text) override;
    int Count() const override;
    std::wstring Text(int index) const override;
    void Replace(int index, std::wstring_view text) override;
    void Repaint() override;
    void Select(int index) override;

private:
    HWND hwnd_;
};

// A standard BUTTON control. A disabled control takes no keys: one that has the focus hands it to
// heir first, so that Tab and Alt+F4 keep working.
class ButtonControl final : public PushButton {
public:
    explicit ButtonControl(HWND hwnd = nullptr, HWND heir = nullptr) noexcept
        : hwnd_(hwnd), heir_(heir) {}
    void Disable() override;

private:
    HWND hwnd_;
    HWND heir_;
};

// Gives a control the name screen readers (Narrator, NVDA) say for it, through the system's dynamic
// annotation of its accessible object, and as its window text, which some accessibility layers
// read instead. Best effort: a system without the annotation service keeps the window text.
// Needs COM on the thread, for as long as the control lives: the program keeps it for its life.
void NameForScreenReaders(HWND control, const std::wstring& name) noexcept;
// Clears that annotation; at WM_DESTROY, before the handle can be another window's.
void ForgetScreenReaderName(HWND control) noexcept;

}  // namespace kdu::win32
