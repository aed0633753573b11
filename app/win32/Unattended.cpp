#include "app/win32/Unattended.h"

#include <windows.h>

#include "app/CommandLine.h"
#include "app/QuietRun.h"
#include "app/Texts.h"
#include "app/win32/ErrorReport.h"
#include "platform/DecimalText.h"
#include "platform/win32/ShutdownBlocker.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Window.h"
#include "resources/resource.h"

namespace kdu::win32 {
namespace {

std::wstring TwoDigits(WORD value) { return (value < 10 ? L"0" : L"") + DecimalText(value); }

// The local time as "2026-12-07 15:50:01".
std::wstring LocalTimeText() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return DecimalText(now.wYear) + L"-" + TwoDigits(now.wMonth) + L"-" + TwoDigits(now.wDay) +
           L" " + TwoDigits(now.wHour) + L":" + TwoDigits(now.wMinute) + L":" +
           TwoDigits(now.wSecond);
}

std::string Utf8(const std::wstring& text) {
    const int length = static_cast<int>(text.size());
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// Appended whole, with one write, so that runs on many PCs can share one log on a server.
void AppendLine(const std::wstring& path, const std::wstring& line) noexcept {
    try {
        const UniqueFile file{::CreateFileW(FileApiPath(path).c_str(), FILE_APPEND_DATA,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (!file) return;
        const std::string bytes = Utf8(line) + "\r\n";
        DWORD written = 0;
        ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    } catch (...) {
    }
}

int Report(const std::wstring& logFile, QuietOutcome outcome) {
    if (outcome.error) outcome.error = ForTheUser(*outcome.error);
    if (!logFile.empty()) AppendLine(logFile, QuietLogLine(LocalTimeText(), outcome));
    return static_cast<int>(ExitCode(outcome));
}

// Never shown: Windows asks only programs with a top-level window about the end of the session,
// and ends the others without asking, between two renames as readily as anywhere.
class SessionWindow final : public Window {
public:
    explicit SessionWindow(HINSTANCE instance) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = WindowProcedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = KDU_QUIET_WINDOW_CLASS;
        ::RegisterClassExW(&windowClass);
        const std::wstring caption{texts::kCaption};
        ::CreateWindowExW(0, KDU_QUIET_WINDOW_CLASS, caption.c_str(), WS_OVERLAPPED, 0, 0, 0, 0,
                          nullptr, nullptr, instance, static_cast<Window*>(this));
        blocker_ = ShutdownBlocker{hwnd_, std::wstring{texts::kRunBlocksShutdown}};
    }
    SessionWindow(const SessionWindow&) = delete;
    SessionWindow& operator=(const SessionWindow&) = delete;
    ~SessionWindow() override {
        if (hwnd_) ::DestroyWindow(hwnd_);
    }

    // The run, with the end of the session waiting for it.
    template <typename Run>
    QuietOutcome During(Run&& run) {
        blocker_.RunStarts();
        auto outcome = run();
        blocker_.RunEnds();
        return outcome;
    }

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_QUERYENDSESSION:
                return blocker_.OnQueryEndSession();
            case WM_ENDSESSION:
                blocker_.OnEndSession(wParam != FALSE);
                return 0;
            default:
                return ::DefWindowProcW(hwnd_, message, wParam, lParam);
        }
    }

    ShutdownBlocker blocker_;
};

}  // namespace

int RunUnattended(HINSTANCE instance, const Services& services, const std::wstring& logFile,
                  bool restore, bool closeApps) {
    SessionWindow window{instance};
    auto outcome = window.During(
        [&] { return restore ? RestoreQuietly(services) : RunQuietly(services, closeApps); });
    return Report(logFile, std::move(outcome));
}

int RefuseUnattended(const std::wstring& logFile, const std::wstring& argument) {
    return Report(logFile, RefusedArgument(argument));
}

void ShowUsage(bool asked) {
    const std::wstring text{kUsage};
    const std::wstring caption{texts::kCaption};
    ::MessageBoxW(nullptr, text.c_str(), caption.c_str(),
                  MB_OK | (asked ? MB_ICONINFORMATION : MB_ICONWARNING));
}

}  // namespace kdu::win32
