#include "platform/win32/Win32PairRecord.h"

#include <windows.h>

#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {

void Win32PairRecord::Record(const std::wstring& version) noexcept {
    if (version.empty()) return Forget();
    const std::wstring key{kRecordKey};
    const std::wstring value{kRecordValue};
    UniqueKey opened;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          opened.put(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    const auto bytes = static_cast<DWORD>(version.size() + 1) * DWORD{sizeof(wchar_t)};
    ::RegSetValueExW(opened.get(), value.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(version.c_str()), bytes);
}

void Win32PairRecord::Forget() noexcept {
    const std::wstring key{kRecordKey};
    const std::wstring value{kRecordValue};
    UniqueKey opened;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, opened.put()) ==
        ERROR_SUCCESS) {
        ::RegDeleteValueW(opened.get(), value.c_str());
    }
}

}  // namespace kdu::win32
