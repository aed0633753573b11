// A DLL as an attacker would plant it beside the exe: when any process loads it, it leaves a
// marker file "<its own path>.loaded" and does nothing else.

#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    std::wstring path(MAX_PATH, L'\0');
    path.resize(::GetModuleFileNameW(instance, path.data(), MAX_PATH));
    const HANDLE marker = ::CreateFileW((path + L".loaded").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
    return TRUE;
}
