#pragma once

#include <windows.h>

#include "app/Form1.h"
#include "platform/win32/Controls.h"
#include "platform/win32/DpiScaling.h"
#include "platform/win32/ShutdownBlocker.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Window.h"

namespace kdu::win32 {

// Form1 on the screen: the Win32 window with its controls, hosting the toolkit-free handlers.
class MainWindow final : public Window, private ErrorBox {
public:
    MainWindow(HINSTANCE instance, const Services& services);

    // Creates the window and runs start-up; the window is not shown yet. False if the
    // system could not create it.
    bool Create();

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Show(const SystemError& error) override;  // the modal error box
    bool AskToRetry(const SystemError& error, bool holdersNamed) override;

    bool OnCreate();
    void OnActivate(WORD state);
    void OnCommand(WORD id, WORD notification);
    LRESULT OnDefaultId() const;
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void OnDestroy();

    bool CreateControls();
    void ApplyLayout(UINT dpi);
    HWND CreateChild(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle,
                     int id);

    HINSTANCE instance_;
    DpiScaling dpiScaling_;
    HWND list1_ = nullptr;
    HWND command1_ = nullptr;
    HWND list2_ = nullptr;
    HWND image1_ = nullptr;
    HWND label1_ = nullptr;
    HWND focus_ = nullptr;     // the control that gets the focus when the window is activated
    bool clicked_ = false;     // in the click handler: the run, then its boxes
    ShutdownBlocker blocker_;  // during the run only, never while a box is open
    UniqueFont messageFont_;
    UniqueFont labelFont_;
    UniqueBitmap picture_;

    ListBoxControl list1Control_;
    ListBoxControl list2Control_;
    ButtonControl command1Control_;
    Form1 form_;
};

}  // namespace kdu::win32
