#include "platform/win32/NewerWindowsFunctions.h"

#include <string>

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

// A DLL from System32 and nowhere else. Windows 7 without KB2533623 knows no
// LOAD_LIBRARY_SEARCH_SYSTEM32 (error 87): there it is loaded by its full path, its own imports
// looked for in System32 first.
UniqueModule LoadFromSystem32(const wchar_t* name) {
    UniqueModule module{::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)};
    if (module || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return module;
    const std::wstring path = std::wstring{folder, length} + L"\\" + name;
    module.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    return module;
}

}  // namespace

DpiFunctions FindDpiFunctions() {
    DpiFunctions functions;
    // user32 is loaded: the exe imports it.
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    Find(user32, "GetDpiForWindow", functions.getDpiForWindow);
    Find(user32, "GetThreadDpiAwarenessContext", functions.getThreadDpiAwarenessContext);
    Find(user32, "AreDpiAwarenessContextsEqual", functions.areDpiAwarenessContextsEqual);
    Find(user32, "EnableNonClientDpiScaling", functions.enableNonClientDpiScaling);
    Find(user32, "AdjustWindowRectExForDpi", functions.adjustWindowRectExForDpi);
    Find(user32, "SystemParametersInfoForDpi", functions.systemParametersInfoForDpi);
    // shcore.dll exists from Windows 8.1, which also knows the System32-only flag; on Windows 7
    // the call fails (with error 87 where the flag is unknown) and the fallback is the screen's.
    functions.shcore.reset(::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    Find(functions.shcore.get(), "GetDpiForMonitor", functions.getDpiForMonitor);
    return functions;
}

const RestartManagerFunctions& RestartManager() {
    static const UniqueModule rstrtmgr = LoadFromSystem32(L"rstrtmgr.dll");
    static const RestartManagerFunctions functions = [] {
        RestartManagerFunctions found;
        const HMODULE module = rstrtmgr.get();
        Find(module, "RmStartSession", found.startSession);
        Find(module, "RmEndSession", found.endSession);
        Find(module, "RmRegisterResources", found.registerResources);
        Find(module, "RmGetList", found.getList);
        Find(module, "RmShutdown", found.shutdown);
        Find(module, "RmRestart", found.restart);
        return found;
    }();
    return functions;
}

KnownFolderPathFunction KnownFolderPath() {
    static const UniqueModule shell32 = LoadFromSystem32(L"shell32.dll");
    static const KnownFolderPathFunction function = [] {
        KnownFolderPathFunction found = nullptr;
        Find(shell32.get(), "SHGetKnownFolderPath", found);
        return found;
    }();
    return function;
}

void EnableNonClientDpiScaling(const DpiFunctions& functions, HWND window) noexcept {
    if (!functions.getThreadDpiAwarenessContext || !functions.areDpiAwarenessContextsEqual ||
        !functions.enableNonClientDpiScaling) {
        return;
    }
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE; version 2 scales the frame by itself.
    const auto perMonitorV1 = reinterpret_cast<DpiFunctions::AwarenessContext>(INT_PTR{-3});
    if (functions.areDpiAwarenessContextsEqual(functions.getThreadDpiAwarenessContext(),
                                               perMonitorV1)) {
        functions.enableNonClientDpiScaling(window);
    }
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
