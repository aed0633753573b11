#include "tests/e2e/UpdaterDriver.h"

#include <algorithm>

#include "platform/win32/SystemErrors.h"
#include "resources/resource.h"

namespace kdu::testing {
namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kMessageTimeoutMs = 5000;
constexpr DWORD kPollMs = 20;

// Polls until a state the window shows holds, or the time is up; whether it held. Looked at
// once more at the deadline, so that a time of 0 looks once.
template <typename State>
bool WaitFor(DWORD milliseconds, State holds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        if (holds()) return true;
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(kPollMs);
    }
}

struct Search {
    DWORD processId;
    std::wstring_view className;
    HWND found;
};

// EnumWindows' callback (a stdcall function, which no lambda converts to on i686).
BOOL CALLBACK MatchVisibleWindow(HWND hwnd, LPARAM context) {
    auto* s = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    if (owner == s->processId &&
        (s->className.empty() || std::wstring_view{name} == s->className) &&
        ::IsWindowVisible(hwnd)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window of the process, of the given window class (any, if empty).
HWND FindVisibleWindow(DWORD processId, std::wstring_view className) {
    Search search{processId, className, nullptr};
    ::EnumWindows(MatchVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                               &result)) {
        throw win32::LastError();
    }
    return static_cast<LRESULT>(result);
}

void WriteBitmap(const std::wstring& path, int width, int height, const void* pixels) {
    const DWORD imageSize = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
    bytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
    bytes.append(static_cast<const char*>(pixels), imageSize);
    WriteFileBytes(path, bytes);
}

// What the screen shows in a rectangle, as 32-bit pixels, top row first.
std::vector<DWORD> CaptureScreen(int left, int top, int width, int height) {
    std::vector<DWORD> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const win32::UniqueBitmap bitmap{
        ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    if (bitmap) {
        const HGDIOBJ previous = ::SelectObject(memory, bitmap.get());
        ::BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY);
        ::GdiFlush();
        std::copy_n(static_cast<const DWORD*>(bits), pixels.size(), pixels.begin());
        ::SelectObject(memory, previous);
    }
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return pixels;
}

}  // namespace

std::wstring UpdaterExecutable() { return Environment(L"KDU_UPDATER_EXE"); }

Deployment::Deployment(std::wstring_view folderName) : folder_(folderName) {
    if (!::CopyFileW(UpdaterExecutable().c_str(), Executable().c_str(), FALSE)) {
        throw win32::LastError(Executable());
    }
    const auto pair = SamplePair();
    WriteFileBytes(folder_ / L"data1.bin", pair.certificate);
    WriteFileBytes(folder_ / L"data2.bin", pair.key);
}

void Deployment::WriteMessages(std::string_view bytes) const {
    WriteFileBytes(folder_ / L"data3.bin", bytes);
}

DWORD RunToEnd(const std::wstring& executable, const std::wstring& arguments, bool& windowShown) {
    std::wstring commandLine = L"\"" + executable + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION information{};
    if (!::CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &information)) {
        throw win32::LastError(executable);
    }
    const win32::UniqueKernelObject process{information.hProcess};
    ::CloseHandle(information.hThread);
    windowShown = false;
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (::WaitForSingleObject(process.get(), 10) == WAIT_TIMEOUT) {
        if (FindVisibleWindow(information.dwProcessId, {})) windowShown = true;
        if (::GetTickCount64() > deadline) {
            ::TerminateProcess(process.get(), STILL_ACTIVE);
            ::WaitForSingleObject(process.get(), 5000);
            return STILL_ACTIVE;
        }
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

UpdaterWindow::UpdaterWindow(const std::wstring& executable, std::wstring workingFolder,
                             std::wstring_view windowClass, std::wstring_view arguments) {
    std::wstring commandLine = L"\"" + executable + L"\" " + std::wstring{arguments};
    if (workingFolder.empty()) {
        wchar_t system[MAX_PATH];
        workingFolder.assign(system, ::GetSystemDirectoryW(system, MAX_PATH));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, workingFolder.c_str(), &startup, &process)) {
        throw win32::LastError(executable);
    }
    process_.reset(process.hProcess);
    ::CloseHandle(process.hThread);
    processId_ = process.dwProcessId;

    const ULONGLONG deadline = ::GetTickCount64() + kStartTimeoutMs;
    while (!window_ && ::GetTickCount64() < deadline) {
        // Looked for often: the benchmark times start-up by it.
        if (::WaitForSingleObject(process_.get(), 2) == WAIT_OBJECT_0) break;
        window_ = FindVisibleWindow(processId_, windowClass);
    }
}

UpdaterWindow::~UpdaterWindow() {
    if (!process_) return;
    if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        if (window_) ::PostMessageW(window_, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), 5000);
        }
    }
}

std::vector<std::wstring> UpdaterWindow::ListItems(int id) const {
    const HWND list = Control(id);
    std::vector<std::wstring> items;
    const auto count = Send(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const auto length = Send(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        const auto copied =
            Send(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(copied < 0 ? 0 : copied));
        items.push_back(text);
    }
    return items;
}

int UpdaterWindow::ListCount(int id) const {
    return static_cast<int>(Send(Control(id), LB_GETCOUNT, 0, 0));
}

std::wstring UpdaterWindow::Text(HWND hwnd) const {
    const auto length = Send(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied = Send(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

RECT UpdaterWindow::ClientRect() const {
    RECT rect{};
    ::GetClientRect(window_, &rect);
    return rect;
}

RECT UpdaterWindow::ControlRect(int id) const {
    RECT rect{};
    ::GetWindowRect(Control(id), &rect);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void UpdaterWindow::SaveScreenshot(const std::wstring& name, HWND shown) const {
    const std::wstring folder = Environment(L"KDU_SCREENSHOTS");
    if (folder.empty() || !window_) return;
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ::WaitForInputIdle(process_.get(), 5000);
    ::Sleep(500);  // the X server shows what Wine painted a moment later

    RECT frame{};
    ::GetWindowRect(shown ? shown : window_, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    auto pixels = CaptureScreen(frame.left, frame.top, width, height);
    // The screen leaves the fourth byte zero; make every pixel opaque for picture viewers.
    for (auto& pixel : pixels) pixel |= 0xFF000000u;
    WriteBitmap(folder + L"\\" + name + L".bmp", width, height, pixels.data());
}

void UpdaterWindow::Kill() {
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), INFINITE);
}

void UpdaterWindow::Click(int id) const { ::PostMessageW(Control(id), BM_CLICK, 0, 0); }

HWND UpdaterWindow::Focused() const {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof(thread);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window_, nullptr), &thread)) return nullptr;
    return thread.hwndFocus;
}

bool UpdaterWindow::WaitForFocus(int id, DWORD milliseconds) const {
    return WaitFor(milliseconds, [&] { return Focused() == Control(id); });
}

void UpdaterWindow::PressKey(WORD virtualKey) const {
    const HWND focused = Focused();
    constexpr LPARAM kPressed = 1;             // repeat count 1
    constexpr LPARAM kReleased = -0x3FFFFFFF;  // 0xC0000001: repeat 1, was down, going up
    ::PostMessageW(focused, WM_KEYDOWN, virtualKey, kPressed);
    ::PostMessageW(focused, WM_KEYUP, virtualKey, kReleased);
}

bool UpdaterWindow::WaitUntilDisabled(int id, DWORD milliseconds) const {
    return WaitFor(milliseconds, [&] { return !Enabled(id); });
}

bool UpdaterWindow::WaitUntilDone(int rows, DWORD milliseconds) const {
    return WaitFor(milliseconds, [&] {
        DWORD_PTR count = 0;
        return !FindVisibleWindow(processId_, kDialogClass) && !Enabled(IDC_COMMAND1) &&
               ::SendMessageTimeoutW(Control(IDC_LIST1), LB_GETCOUNT, 0, 0, SMTO_NORMAL, kPollMs,
                                     &count) &&
               static_cast<LRESULT>(count) >= rows;
    });
}

int UpdaterWindow::ItemHeight(int id) const {
    return static_cast<int>(Send(Control(id), LB_GETITEMHEIGHT, 0, 0));
}

int UpdaterWindow::RowInk(int id, int row, int itemHeight) const {
    const HWND list = Control(id);
    RECT client{};
    ::GetClientRect(list, &client);
    POINT origin{0, row * itemHeight};
    ::ClientToScreen(list, &origin);
    int ink = 0;
    for (const DWORD p : CaptureScreen(origin.x, origin.y, client.right, itemHeight)) {
        const auto luminance =
            static_cast<int>((((p >> 16) & 0xFF) * 3 + ((p >> 8) & 0xFF) * 6 + (p & 0xFF)) / 10);
        if (luminance < 128) ++ink;
    }
    return ink;
}

HWND UpdaterWindow::WaitForErrorBox(DWORD milliseconds) const {
    HWND box = nullptr;
    WaitFor(milliseconds,
            [&] { return (box = FindVisibleWindow(processId_, kDialogClass)) != nullptr; });
    return box;
}

std::wstring UpdaterWindow::DialogText(HWND dialog) const {
    std::wstring text;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[16] = {};
        ::GetClassNameW(child, className, 16);
        if (::_wcsicmp(className, L"Static") == 0) text += Text(child);
    }
    return text;
}

bool UpdaterWindow::AnswerErrorBox(HWND box, int button) const {
    ::PostMessageW(::GetDlgItem(box, button), BM_CLICK, 0, 0);
    return WaitFor(kMessageTimeoutMs, [&] { return !::IsWindow(box); });
}

LRESULT UpdaterWindow::SendToWindow(UINT message, WPARAM wParam, LPARAM lParam) const {
    return Send(window_, message, wParam, lParam);
}

bool UpdaterWindow::Running() const {
    return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

DWORD UpdaterWindow::Close() {
    if (window_) ::PostMessageW(window_, WM_CLOSE, 0, 0);
    return WaitForExit(10000);
}

DWORD UpdaterWindow::WaitForExit(DWORD milliseconds) {
    if (!process_) return static_cast<DWORD>(-1);
    if (::WaitForSingleObject(process_.get(), milliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

}  // namespace kdu::testing
