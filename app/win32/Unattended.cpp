#include "app/win32/Unattended.h"

#include <windows.h>

#include <vector>

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
#include "resources/version.h"

namespace kdu::win32 {
namespace {

// The account the program runs as ("DOMAIN\\name") and how: "SYSTEM" (a deployment agent's
// system context), "elevated" or "user".
struct RunAs {
    std::wstring user;
    std::wstring context = L"user";
};

RunAs WhoRuns() {
    RunAs runAs;
    UniqueKernelObject token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return runAs;
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size && ::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        wchar_t name[256] = {}, domain[256] = {};
        DWORD nameSize = 256, domainSize = 256;
        SID_NAME_USE use{};
        if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
            runAs.user = std::wstring{domain} + L"\\" + name;
        }
        if (::IsWellKnownSid(sid, WinLocalSystemSid)) runAs.context = L"SYSTEM";
    }
    TOKEN_ELEVATION elevation{};
    if (runAs.context != L"SYSTEM" &&
        ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
        elevation.TokenIsElevated) {
        runAs.context = L"elevated";
    }
    return runAs;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return ::GetComputerNameW(name, &size) ? std::wstring{name, size} : std::wstring{};
}

// Where /log alone writes: the user's local application data, not a folder that roams.
std::wstring UsualLogFile() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::ExpandEnvironmentStringsW(
        L"%LOCALAPPDATA%\\Kestova\\Logs\\KestovaDesktopUpdater.log", path, MAX_PATH);
    return length > 0 && length <= MAX_PATH && path[0] != L'%' ? std::wstring{path} : L"";
}

// The log's folder, and those it lies in, made where they are missing.
void MakeFoldersFor(const std::wstring& file) {
    for (auto at = file.find_first_of(L"\\/", 3); at != std::wstring::npos;
         at = file.find_first_of(L"\\/", at + 1)) {
        ::CreateDirectoryW(FileApiPath(file.substr(0, at)).c_str(), nullptr);
    }
}

// The same line in the Application event log, where fleet tools collect it.
void ReportEvent(const std::wstring& line, bool failed) noexcept {
    const UniqueEventSource source{::RegisterEventSourceW(nullptr, L"KestovaDesktopUpdater")};
    if (!source) return;
    const wchar_t* strings[] = {line.c_str()};
    ::ReportEventW(source.get(), failed ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
                   failed ? 1001 : 1000, nullptr, 1, 0, strings, nullptr);
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

int Report(const Services& services, const CommandLine& line, QuietOutcome outcome) {
    if (outcome.error) outcome.error = ForTheUser(*outcome.error);
    const auto runAs = WhoRuns();
    const LogContext context{services.clock.UtcSeconds(),
                             ComputerName(),
                             runAs.user,
                             runAs.context,
                             L"" KDU_VERSION_TEXT,
                             PackageText(services.files, services.program)};
    const auto text = QuietLogLine(LogHead(context), outcome);
    const auto exitCode = ExitCode(outcome);
    ReportEvent(text, exitCode != 0);
    if (line.log) {
        const auto file = line.logFile.empty() ? UsualLogFile() : line.logFile;
        MakeFoldersFor(file);
        AppendLine(file, text);
    }
    return static_cast<int>(exitCode);
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

int RunUnattended(HINSTANCE instance, const Services& services, const CommandLine& line) {
    SessionWindow window{instance};
    auto outcome = window.During([&] {
        if (line.uninstall) return UninstallQuietly(services);
        return line.restore ? RestoreQuietly(services) : RunQuietly(services, line.closeApps);
    });
    return Report(services, line, std::move(outcome));
}

int RefuseUnattended(const Services& services, const CommandLine& line) {
    return Report(services, line, RefusedArgument(line.invalidArgument));
}

void ShowUsage(bool asked) {
    const std::wstring text{kUsage};
    const std::wstring caption{texts::kCaption};
    ::MessageBoxW(nullptr, text.c_str(), caption.c_str(),
                  MB_OK | (asked ? MB_ICONINFORMATION : MB_ICONWARNING));
}

}  // namespace kdu::win32
