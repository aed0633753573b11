#pragma once

// The functions this program uses that Windows 7 SP1 lacks, or that live in a DLL only a rare
// path needs. They are never imported: the exe must start on Windows 7, so each is looked up at
// run time, in a module that is already loaded or in System32, and each has a Windows 7
// fallback where it is used.

#include <windows.h>

#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {

// The DPI functions of newer Windows; each is null where the running Windows lacks it.
struct DpiFunctions {
    // DPI_AWARENESS_CONTEXT, a handle type the Windows 7 headers lack.
    using AwarenessContext = HANDLE;

    UINT(WINAPI* getDpiForWindow)(HWND) = nullptr;                       // 10 1607
    AwarenessContext(WINAPI* getThreadDpiAwarenessContext)() = nullptr;  // 10 1607
    BOOL(WINAPI* areDpiAwarenessContextsEqual)(AwarenessContext, AwarenessContext) = nullptr;
    BOOL(WINAPI* enableNonClientDpiScaling)(HWND) = nullptr;                            // 10 1607
    BOOL(WINAPI* adjustWindowRectExForDpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;  // 10 1607
    BOOL(WINAPI* systemParametersInfoForDpi)(UINT, UINT, void*, UINT, UINT) = nullptr;  // 10 1607
    // The monitor type is MDT_EFFECTIVE_DPI (0).
    HRESULT(WINAPI* getDpiForMonitor)(HMONITOR, int, UINT*, UINT*) = nullptr;  // 8.1, shcore.dll
    UniqueModule shcore;  // keeps getDpiForMonitor's module loaded
};

// Those the running Windows has.
DpiFunctions FindDpiFunctions();

// Restart Manager (Windows Vista), which names the programs that have a file open, asks them to
// close and starts them again. rstrtmgr.dll is no KnownDLL: imported, it would be looked for in
// the application folder first; it is loaded from System32 on first use. Null where missing.
struct RestartManagerFunctions {
    DWORD(WINAPI* startSession)(DWORD*, DWORD, WCHAR*) = nullptr;
    DWORD(WINAPI* endSession)(DWORD) = nullptr;
    DWORD(WINAPI* registerResources)(DWORD, UINT, LPCWSTR*, UINT, void*, UINT, LPCWSTR*) = nullptr;
    // The array is of RM_PROCESS_INFO.
    DWORD(WINAPI* getList)(DWORD, UINT*, UINT*, void*, DWORD*) = nullptr;
    DWORD(WINAPI* shutdown)(DWORD, ULONG, void*) = nullptr;
    DWORD(WINAPI* restart)(DWORD, DWORD, void*) = nullptr;

    bool Complete() const {
        return startSession && endSession && registerResources && getList && shutdown && restart;
    }
};
const RestartManagerFunctions& RestartManager();

// SHGetKnownFolderPath (Windows Vista), which gives a known folder's path wherever the user or
// OneDrive moved it. Only an access-denied error asks for it: shell32.dll, which the exe does
// not import, is loaded from System32 then. Null where missing; the path it gives is freed with
// CoTaskMemFree.
using KnownFolderPathFunction = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);
KnownFolderPathFunction KnownFolderPath();

// Where the process is per-monitor DPI aware in the first way only (Windows 10 before 1703
// knows no other), the window's frame follows its DPI only if asked, at WM_NCCREATE.
void EnableNonClientDpiScaling(const DpiFunctions& functions, HWND window) noexcept;

// Keeps later DLL loads out of the folders a user's downloads can reach. With
// SetDefaultDllDirectories (Windows 8, or 7 with KB2533623) they come from System32 only.
// Without it, SetDllDirectoryW(L"") takes the current folder out of the search and safe search
// mode puts it last for SearchPathW; the application folder then stays first, as Windows 7
// without that update has no way to take it out. Loads nothing itself: wWinMain calls it first.
void RestrictDllSearch() noexcept;

}  // namespace kdu::win32
