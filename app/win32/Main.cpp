// KestovaDesktopUpdater: replaces the installed KestovaDesktop certificate and private key with
// the ones shipped beside this executable.

#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/win32/MainWindow.h"
#include "app/win32/RestoreBoxes.h"
#include "app/win32/Unattended.h"
#include "platform/ErrorNumbers.h"
#include "platform/win32/ComApartment.h"
#include "platform/win32/NewerWindowsFunctions.h"
#include "platform/win32/Win32Services.h"
#include "resources/resource.h"

namespace {

// A crash ends with an exit code of its own, as Windows' fail-fast gives one: the C runtime's
// abort() exits with 3, which is also what /quiet gives for a missing install folder.
[[noreturn]] void EndAbnormally() noexcept {
    ::TerminateProcess(::GetCurrentProcess(), kdu::kAbnormalEnd);
    ::ExitProcess(kdu::kAbnormalEnd);  // not reached
}

void OnAbort(int) { EndAbnormally(); }

}  // namespace

// The runtime's default handler of an uncaught exception writes the exception's demangled type
// to a console this program does not have, and brings a 46 KB demangler into the exe for it.
// Exceptions are caught in the window procedure; anything else ends the program plainly.
namespace __gnu_cxx {
void __verbose_terminate_handler() { EndAbnormally(); }  // NOLINT(bugprone-reserved-identifier)
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Run from a Downloads folder, the program must never load a DLL planted beside it.
    kdu::win32::RestrictDllSearch();
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    std::signal(SIGABRT, OnAbort);

    // The arguments as the C runtime split them from the command line (quotes and all).
    const std::vector<std::wstring> arguments(__wargv + 1, __wargv + __argc);
    const auto commandLine = kdu::ParseCommandLine(arguments);

    // COM for the program's life: List1's name for screen readers lives in it, as long as the
    // window does; the shell object is made in it. Without it the program works all the same.
    std::optional<kdu::win32::ComApartment> com;
    try {
        com.emplace();
    } catch (const std::exception&) {
    }

    // What the program works with, made once for whichever of its forms runs.
    kdu::win32::Win32Services windows;
    const kdu::Services services = windows.All();

    switch (commandLine.mode) {
        case kdu::CommandLine::Mode::Quiet:
            return kdu::win32::RunUnattended(instance, services, commandLine);
        case kdu::CommandLine::Mode::QuietInvalid:
            return kdu::win32::RefuseUnattended(services, commandLine);
        case kdu::CommandLine::Mode::Usage:
            kdu::win32::ShowUsage(true);
            return 0;
        case kdu::CommandLine::Mode::Invalid:
            kdu::win32::ShowUsage(false);
            return ERROR_INVALID_PARAMETER;
        case kdu::CommandLine::Mode::Window:
            if (commandLine.restore) return kdu::win32::RestoreWithBoxes(services);
            break;
    }

    kdu::win32::MainWindow window{instance, services};
    if (!window.Create()) return 1;
    ::ShowWindow(window.Handle(), showCommand);
    ::UpdateWindow(window.Handle());

    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageW(window.Handle(), &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
