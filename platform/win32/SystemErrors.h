#pragma once

#include <windows.h>

#include <string>

#include "platform/SystemError.h"

namespace kdu::win32 {

// The system's description of an error number (Win32 error or HRESULT), in the system's
// language, without the trailing line break; empty if the system has none.
std::wstring SystemMessage(DWORD code);

// The calling thread's last error, for the file at path. Undescribed: the description is
// attached where the error is shown (Described).
SystemError LastError(const std::wstring& path = {});
SystemError ErrorFromCode(DWORD code, const std::wstring& path = {});
SystemError ErrorFromHResult(HRESULT result, const std::wstring& path = {});

// The error with the system's description where it has none of its own.
SystemError Described(const SystemError& error);

}  // namespace kdu::win32
