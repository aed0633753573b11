#include "platform/win32/WshShell.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <vector>

#include "platform/win32/ComApartment.h"
#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {
namespace {

RegistryValue ToRegistryValue(const VARIANT& value) {
    switch (value.vt) {
        case VT_BSTR:
            return std::wstring{value.bstrVal, ::SysStringLen(value.bstrVal)};
        case VT_I1:
            return std::int64_t{value.cVal};
        case VT_I2:
            return std::int64_t{value.iVal};
        case VT_I4:
            return std::int64_t{value.lVal};
        case VT_INT:
            return std::int64_t{value.intVal};
        case VT_I8:
            return std::int64_t{value.llVal};
        case VT_UI1:
            return std::uint64_t{value.bVal};
        case VT_UI2:
            return std::uint64_t{value.uiVal};
        case VT_UI4:
            return std::uint64_t{value.ulVal};
        case VT_UINT:
            return std::uint64_t{value.uintVal};
        case VT_UI8:
            return std::uint64_t{value.ullVal};
        default:
            return NoTextForm{value.vt};
    }
}

class WshShellObject final : public ShellObject {
public:
    WshShellObject() {
        CLSID classId{};
        HRESULT result = ::CLSIDFromProgID(L"WScript.Shell", &classId);
        if (FAILED(result)) throw ErrorFromHResult(result);
        result = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                    IID_IDispatch, shell_.PutVoid());
        if (FAILED(result)) throw ErrorFromHResult(result);
    }

    RegistryValue RegRead(const std::wstring& valuePath) override {
        DISPID method = 0;
        wchar_t name[] = L"RegRead";
        LPOLESTR names[] = {name};
        HRESULT result = shell_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &method);
        if (FAILED(result)) throw ErrorFromHResult(result);

        const UniqueBstr path{
            ::SysAllocStringLen(valuePath.data(), static_cast<UINT>(valuePath.size()))};
        if (!path) throw ErrorFromHResult(E_OUTOFMEMORY);
        VARIANT argument{};
        argument.vt = VT_BSTR;
        argument.bstrVal = path.get();
        DISPPARAMS parameters{&argument, nullptr, 1, 0};

        UniqueVariant value;
        EXCEPINFO exception{};
        result = shell_->Invoke(method, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                                value.Put(), &exception, nullptr);
        const UniqueBstr source{exception.bstrSource};
        const UniqueBstr description{exception.bstrDescription};
        const UniqueBstr helpFile{exception.bstrHelpFile};
        if (result == DISP_E_EXCEPTION && FAILED(exception.scode)) result = exception.scode;
        if (FAILED(result)) throw ErrorFromHResult(result, valuePath);
        return ToRegistryValue(value.Get());
    }

private:
    ComApartment apartment_;  // first in, last out: COM outlives the object
    ComPtr<IDispatch> shell_;
};

// A value's data as RegGetValueW gives it, whatever its size; a failure names valuePath.
std::vector<BYTE> ValueData(const std::wstring& valuePath, std::size_t keyAt, DWORD& type) {
    const auto last = valuePath.rfind(L'\\');
    const auto key = valuePath.substr(keyAt, last - keyAt);
    const auto name = valuePath.substr(last + 1);
    std::vector<BYTE> data(256);
    for (;;) {
        auto size = static_cast<DWORD>(data.size());
        const LSTATUS status = ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(),
                                              RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
            return data;
        }
        if (status != ERROR_MORE_DATA) throw ErrorFromCode(static_cast<DWORD>(status), valuePath);
        data.resize(size);
    }
}

std::wstring StringOf(const std::vector<BYTE>& data) {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));  // RegRead stops at the first NUL too
}

std::wstring Expanded(const std::wstring& text) {
    std::wstring expanded(text.size() + 1, L'\0');
    for (;;) {
        const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                                         static_cast<DWORD>(expanded.size()));
        if (needed == 0) throw ErrorFromCode(::GetLastError());
        if (needed <= expanded.size()) {
            expanded.resize(needed - 1);
            return expanded;
        }
        expanded.resize(needed);
    }
}

}  // namespace

std::unique_ptr<ShellObject> WshShell::CreateShellObject() {
    return std::make_unique<WshShellObject>();
}

RegistryValue WshShell::ReadValue(const std::wstring& valuePath) {
    constexpr std::wstring_view kRoot = L"HKEY_CURRENT_USER\\";
    const auto last = valuePath.rfind(L'\\');
    if (!valuePath.starts_with(kRoot) || last < kRoot.size()) {
        throw ErrorFromCode(ERROR_INVALID_PARAMETER, valuePath);
    }
    DWORD type = REG_NONE;
    const auto data = ValueData(valuePath, kRoot.size(), type);
    switch (type) {
        case REG_SZ:
            return StringOf(data);
        case REG_EXPAND_SZ:
            return Expanded(StringOf(data));
        case REG_DWORD: {
            std::int32_t number = 0;
            if (data.size() != sizeof(number)) return NoTextForm{};
            std::memcpy(&number, data.data(), sizeof(number));
            return std::int64_t{number};
        }
        default:
            return NoTextForm{static_cast<std::uint16_t>(type)};
    }
}

}  // namespace kdu::win32
