#include "platform/win32/SystemErrors.h"

#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {

std::wstring SystemMessage(DWORD code) {
    UniqueLocalMemory buffer;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    if (length == 0) return {};
    std::wstring message{static_cast<const wchar_t*>(buffer.get()), length};
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return message;
}

SystemError ErrorFromCode(DWORD code, const std::wstring& path) {
    return SystemError{code, {}, path};
}

SystemError LastError(const std::wstring& path) { return ErrorFromCode(::GetLastError(), path); }

SystemError Described(const SystemError& error) {
    if (!error.Description().empty()) return error;
    return error.Described(error.Code(), SystemMessage(error.Code()));
}

SystemError ErrorFromHResult(HRESULT result, const std::wstring& path) {
    return SystemError{static_cast<DWORD>(result), {}, path};
}

}  // namespace kdu::win32
