#include "platform/win32/NewerWindowsFunctions.h"

namespace kdu::win32 {
namespace {

// GetProcAddress returns any function as FARPROC; the cast through void (*)() tells the compiler
// that the function's real type is restored, not changed.
template <typename Function>
void Find(HMODULE module, const char* name, Function& function) {
    if (!module) return;
    function =
        reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace

DpiFunctions FindDpiFunctions() {
    DpiFunctions functions;
    // user32 is loaded: the exe imports it.
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    Find(user32, "GetDpiForWindow", functions.getDpiForWindow);
    Find(user32, "AdjustWindowRectExForDpi", functions.adjustWindowRectExForDpi);
    Find(user32, "SystemParametersInfoForDpi", functions.systemParametersInfoForDpi);
    // shcore.dll exists from Windows 8.1, which also knows the System32-only flag; on Windows 7
    // the call fails (with error 87 where the flag is unknown) and the fallback is the screen's.
    functions.shcore.reset(::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    Find(functions.shcore.get(), "GetDpiForMonitor", functions.getDpiForMonitor);
    return functions;
}

void RestrictDllSearch() noexcept {
    // kernel32 is in every process before any code of the program runs.
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    BOOL(WINAPI * setDefaultDllDirectories)(DWORD) = nullptr;
    Find(kernel32, "SetDefaultDllDirectories", setDefaultDllDirectories);
    if (setDefaultDllDirectories) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
    ::SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
}

}  // namespace kdu::win32
