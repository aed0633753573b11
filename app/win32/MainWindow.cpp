#include "app/win32/MainWindow.h"

#include <string>

#include "app/HeldOpen.h"
#include "app/Layout.h"
#include "app/Texts.h"
#include "app/win32/ErrorReport.h"
#include "platform/win32/Win32Pause.h"
#include "resources/resource.h"

namespace kdu::win32 {
namespace {

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kListStyle =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
// List2 keeps its place off the client area, but neither shows nor takes the focus: Tab moves
// only between List1 and Command1, and a screen reader never reads the lines it holds.
constexpr DWORD kHiddenListStyle = WS_CHILD | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;

void MoveTo(HWND control, layout::Rect twips, UINT dpi) {
    const auto pixels = layout::ToPixels(twips, static_cast<int>(dpi));
    ::SetWindowPos(control, nullptr, pixels.left, pixels.top, pixels.width, pixels.height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

int CALLBACK StopAtTheFirstFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// Whether a font family of this name is installed (or substituted for by the system).
bool SystemHasFont(std::wstring_view face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    face.copy(wanted.lfFaceName, LF_FACESIZE - 1);
    const UniqueScreenDc screen{::GetDC(nullptr)};
    bool found = false;
    ::EnumFontFamiliesExW(screen.get(), &wanted, StopAtTheFirstFont,
                          reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

UniqueFont CreateLabelFont(UINT dpi, const UniqueFont& messageFont) {
    LOGFONTW message{};
    ::GetObjectW(messageFont.get(), sizeof(message), &message);
    const auto chosen = layout::ChooseLabelFace(SystemHasFont, message.lfFaceName);
    LOGFONTW font{};
    font.lfHeight = layout::FontHeight(layout::kLabelFontHundredthsOfPoint, static_cast<int>(dpi));
    font.lfWeight = layout::kLabelFontWeight;
    font.lfCharSet = static_cast<BYTE>(chosen.charset);
    font.lfQuality = DEFAULT_QUALITY;
    chosen.face.copy(font.lfFaceName, LF_FACESIZE - 1);
    return UniqueFont{::CreateFontIndirectW(&font)};
}

void SetFont(HWND control, const UniqueFont& font) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, const Services& services)
    : instance_(instance),
      dpiScaling_(FindDpiFunctions()),
      form_(Form1Controls{list1Control_, list2Control_, command1Control_, *this, blocker_},
            services) {}

bool MainWindow::Create() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance_;
    windowClass.hIcon = static_cast<HICON>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON,
                     ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON,
                     ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = KDU_WINDOW_CLASS;
    if (!::RegisterClassExW(&windowClass)) return false;

    const std::wstring caption{texts::kCaption};
    return ::CreateWindowExW(0, KDU_WINDOW_CLASS, caption.c_str(), kWindowStyle, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                             instance_, static_cast<Window*>(this)) != nullptr;
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE:
            dpiScaling_.ScaleFrame(hwnd_);
            return ::DefWindowProcW(hwnd_, message, wParam, lParam);
        case WM_CREATE:
            return OnCreate() ? 0 : -1;
        case WM_ACTIVATE:
            OnActivate(LOWORD(wParam));
            return 0;
        case WM_SETFOCUS:
            OnActivate(WA_ACTIVE);
            return 0;
        case DM_GETDEFID:
            return OnDefaultId();
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        // The pauses answer messages sent to the window: one that would close it must wait
        // until the pair is replaced or put back, and its boxes are answered; the end of the
        // session waits for the run only.
        case WM_CLOSE:
            if (clicked_) return 0;
            return ::DefWindowProcW(hwnd_, message, wParam, lParam);
        case WM_QUERYENDSESSION:
            return blocker_.OnQueryEndSession();
        case WM_ENDSESSION:
            blocker_.OnEndSession(wParam != FALSE);
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        default:
            return ::DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

bool MainWindow::OnCreate() {
    if (!CreateControls()) return false;
    ApplyLayout(dpiScaling_.WindowDpi(hwnd_));
    blocker_ = ShutdownBlocker{hwnd_, std::wstring{texts::kRunBlocksShutdown}};
    form_.OnLoad();
    focus_ = command1_;  // Enter or Space starts the update at once
    return true;
}

// As dialogs do: the control that had the focus when the window was left gets it back, or, if
// it has been disabled since, List1.
void MainWindow::OnActivate(WORD state) {
    if (state == WA_INACTIVE) {
        const HWND focused = ::GetFocus();
        if (focused && ::IsChild(hwnd_, focused)) focus_ = focused;
        return;
    }
    ::SetFocus(focus_ && ::IsWindowEnabled(focus_) ? focus_ : list1_);
}

// Enter presses 「開始更新」 wherever the focus is, while it can be pressed.
LRESULT MainWindow::OnDefaultId() const {
    return ::IsWindowEnabled(command1_) ? MAKELRESULT(IDC_COMMAND1, DC_HASDEFID) : 0;
}

void MainWindow::OnCommand(WORD id, WORD notification) {
    // A click sent while the run's pauses answer messages starts no run inside the run.
    if (id != IDC_COMMAND1 || notification != BN_CLICKED || clicked_) return;
    struct Clicked {
        bool& flag;
        explicit Clicked(bool& clicked) : flag(clicked) { flag = true; }
        Clicked(const Clicked&) = delete;
        Clicked& operator=(const Clicked&) = delete;
        ~Clicked() { flag = false; }
    } clicked{clicked_};
    form_.OnCommand1Click();
}

namespace {

// Keys typed while the window was busy would reach the box as soon as it shows: an impatient
// Enter must not dismiss it unread.
void DiscardTypedKeys() {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
}

}  // namespace

// No box once the session ends: nobody would answer it.
void MainWindow::Show(const SystemError& error) {
    if (Win32Pause::SessionEnding()) return;
    const SystemError described = ForTheUser(error, form_.InstallFolder);
    DiscardTypedKeys();
    const std::wstring caption{texts::kCaption};
    ::MessageBoxW(hwnd_, ErrorMessageText(described).c_str(), caption.c_str(),
                  MB_OK | MB_ICONERROR);
}

bool MainWindow::AskToRetry(const SystemError& error, bool holdersNamed) {
    if (Win32Pause::SessionEnding()) return false;
    const SystemError described = ForTheUser(error, form_.InstallFolder);
    DiscardTypedKeys();
    const std::wstring caption{texts::kCaption};
    return ::MessageBoxW(hwnd_, RetryQuestionText(described, holdersNamed).c_str(), caption.c_str(),
                         MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
    ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyLayout(dpi);
}

// The exit code tells a support script how the run went, as /quiet's does. The annotation is
// the system's, kept for List1's window handle: cleared while the handle is still List1's.
void MainWindow::OnDestroy() {
    ForgetScreenReaderName(list1_);
    ::PostQuitMessage(static_cast<int>(form_.ExitCode()));
}

HWND MainWindow::CreateChild(const wchar_t* className, const wchar_t* text, DWORD style,
                             DWORD exStyle, int id) {
    return ::CreateWindowExW(exStyle, className, text, style, 0, 0, 0, 0, hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
}

// Created in tab order: List1, Command1, then List2 (hidden) and Label1; Image1 takes no focus.
// False if the system could not make one of them: the window is then not made either.
bool MainWindow::CreateControls() {
    const std::wstring startButton{texts::kStartButton};
    const std::wstring notice{texts::kNotice};
    list1_ = CreateChild(L"LISTBOX", L"", kListStyle, WS_EX_CLIENTEDGE, IDC_LIST1);
    command1_ = CreateChild(L"BUTTON", startButton.c_str(),
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, IDC_COMMAND1);
    list2_ = CreateChild(L"LISTBOX", L"", kHiddenListStyle, WS_EX_CLIENTEDGE, IDC_LIST2);
    NameForScreenReaders(list1_, std::wstring{texts::kList1Name});
    label1_ = CreateChild(L"STATIC", notice.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                          0, IDC_LABEL1);
    image1_ = CreateChild(L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_REALSIZECONTROL, 0,
                          IDC_IMAGE1);

    list1Control_ = ListBoxControl{list1_};
    list2Control_ = ListBoxControl{list2_};
    command1Control_ = ButtonControl{command1_, list1_};

    picture_.reset(static_cast<HBITMAP>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDB_IMAGE1),
                                                     IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
    ::SendMessageW(image1_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));
    return list1_ && command1_ && list2_ && label1_ && image1_;
}

void MainWindow::ApplyLayout(UINT dpi) {
    const auto client = layout::ToPixels(layout::kClientArea, static_cast<int>(dpi));
    const SIZE window = dpiScaling_.WindowSize({client.width, client.height}, kWindowStyle, 0, dpi);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, window.cx, window.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    MoveTo(list1_, layout::kList1, dpi);
    MoveTo(command1_, layout::kCommand1, dpi);
    MoveTo(list2_, layout::kList2, dpi);
    MoveTo(image1_, layout::kImage1, dpi);
    MoveTo(label1_, layout::kLabel1, dpi);

    // The controls take the new fonts before the old ones are deleted.
    auto messageFont = dpiScaling_.MessageFont(dpi);
    auto labelFont = CreateLabelFont(dpi, messageFont);
    for (HWND control : {list1_, command1_, list2_}) SetFont(control, messageFont);
    SetFont(label1_, labelFont);
    messageFont_ = std::move(messageFont);
    labelFont_ = std::move(labelFont);
}

}  // namespace kdu::win32
