#pragma once

// The functions this program uses that Windows 7 SP1 lacks. They are never imported: the exe
// must start on Windows 7, so each is looked up at run time, in a module that is already loaded
// or in System32, and each has a Windows 7 fallback where it is used.

#include <windows.h>

#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {

// The DPI functions of newer Windows; each is null where the running Windows lacks it.
struct DpiFunctions {
    UINT(WINAPI* getDpiForWindow)(HWND) = nullptr;                                      // 10 1607
    BOOL(WINAPI* adjustWindowRectExForDpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;  // 10 1607
    BOOL(WINAPI* systemParametersInfoForDpi)(UINT, UINT, void*, UINT, UINT) = nullptr;  // 10 1607
    // The monitor type is MDT_EFFECTIVE_DPI (0).
    HRESULT(WINAPI* getDpiForMonitor)(HMONITOR, int, UINT*, UINT*) = nullptr;  // 8.1, shcore.dll
    UniqueModule shcore;  // keeps getDpiForMonitor's module loaded
};

// Those the running Windows has.
DpiFunctions FindDpiFunctions();

// Keeps later DLL loads out of the folders a user's downloads can reach. With
// SetDefaultDllDirectories (Windows 8, or 7 with KB2533623) they come from System32 only.
// Without it, SetDllDirectoryW(L"") takes the current folder out of the search and safe search
// mode puts it last for SearchPathW; the application folder then stays first, as Windows 7
// without that update has no way to take it out. Loads nothing itself: wWinMain calls it first.
void RestrictDllSearch() noexcept;

}  // namespace kdu::win32
