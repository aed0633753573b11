// The benchmarks' second baseline: the work KestovaDesktopUpdater.exe must do to reach Ready and
// nothing else, written plainly. Under the same manifest (Common Controls 6) it makes the five
// controls, reads the install folder with one WScript.Shell RegRead, and reads the six-line
// data3.bin beside it into List2 and its first three lines into List1. What the updater takes
// beyond this is its own overhead.

#include <windows.h>
// after windows.h, which they need
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "bench/BaselineWindow.h"
#include "platform/win32/UniqueHandle.h"
#include "resources/resource.h"

namespace {

using kdu::win32::ComPtr;
using kdu::win32::UniqueBstr;
using kdu::win32::UniqueFile;
using kdu::win32::UniqueVariant;

std::wstring RegRead(const wchar_t* valuePath) {
    CLSID shellClass{};
    ComPtr<IDispatch> shell;
    if (FAILED(::CLSIDFromProgID(L"WScript.Shell", &shellClass)) ||
        FAILED(::CoCreateInstance(shellClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  shell.PutVoid()))) {
        return {};
    }
    wchar_t method[] = L"RegRead";
    LPOLESTR names[] = {method};
    DISPID id = 0;
    if (FAILED(shell->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return {};
    const UniqueBstr path{::SysAllocString(valuePath)};
    VARIANT argument{};
    argument.vt = VT_BSTR;
    argument.bstrVal = path.get();
    DISPPARAMS parameters{&argument, nullptr, 1, 0};
    UniqueVariant result;
    if (FAILED(shell->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                             result.Put(), nullptr, nullptr)) ||
        result.Get().vt != VT_BSTR) {
        return {};
    }
    return result.Get().bstrVal;
}

std::string ReadBeside(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file{path, length};
    file = file.substr(0, file.rfind(L'\\') + 1) + name;
    const UniqueFile handle{::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr)};
    std::string bytes(4096, '\0');
    DWORD read = 0;
    if (!handle || !::ReadFile(handle.get(), bytes.data(), 4096, &read, nullptr)) return {};
    bytes.resize(read);
    return bytes;
}

void AddLines(HWND list1, HWND list2, std::string_view big5) {
    int count = 0;
    for (std::size_t start = 0; start < big5.size();) {
        auto end = big5.find("\r\n", start);
        if (end == std::string_view::npos) end = big5.size();
        const auto line = big5.substr(start, end - start);
        std::wstring text(line.size(), L'\0');
        text.resize(static_cast<std::size_t>(
            ::MultiByteToWideChar(950, 0, line.data(), static_cast<int>(line.size()), text.data(),
                                  static_cast<int>(text.size()))));
        ::SendMessageW(list2, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (count++ < 3)
            ::SendMessageW(list1, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        start = end + 2;
    }
}

HWND Child(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id, int y) {
    return ::CreateWindowExW(0, className, text, WS_CHILD | style, 8, y, 400, 60, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const HWND window =
        kdu::bench::CreateBaselineWindow(instance, L"KduSameWorkWindow", L"Same work", 480, 360);
    if (!window) return 1;
    const HWND list1 = Child(window, L"LISTBOX", L"", WS_VISIBLE | WS_BORDER, IDC_LIST1, 8);
    Child(window, L"BUTTON", L"開始更新", WS_VISIBLE | BS_PUSHBUTTON, IDC_COMMAND1, 76);
    const HWND list2 = Child(window, L"LISTBOX", L"", 0, IDC_LIST2, 144);
    Child(window, L"STATIC", L"Kestova 憑證更新工具", WS_VISIBLE, IDC_LABEL1, 212);
    const HWND image = Child(window, L"STATIC", L"", WS_VISIBLE | SS_BITMAP, IDC_IMAGE1, 280);
    ::SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP,
                   reinterpret_cast<LPARAM>(::LoadImageW(instance, MAKEINTRESOURCEW(IDB_IMAGE1),
                                                         IMAGE_BITMAP, 0, 0, 0)));
    if (!RegRead(L"HKCU\\SOFTWARE\\Kestova\\Desktop\\InstallPath").empty()) {
        AddLines(list1, list2, ReadBeside(L"data3.bin"));
    }
    const int exitCode = kdu::bench::ShowAndRun(window, showCommand);
    ::CoUninitialize();
    return exitCode;
}
