#include "platform/win32/Win32RunningProgram.h"

#include "platform/win32/SystemErrors.h"
#include "resources/resource.h"

namespace kdu::win32 {

std::wstring Win32RunningProgram::Path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) throw LastError();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);  // truncated: a long path
    }
}

// A resource of the image itself: the loader has mapped it, so this reads no file.
std::optional<Bytes> Win32RunningProgram::DigestSlot() {
    const HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_PACKAGE_DIGESTS),
                                           MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!resource) {
        // A program of this source without the resource: a test program.
        const DWORD error = ::GetLastError();
        if (error == ERROR_RESOURCE_TYPE_NOT_FOUND || error == ERROR_RESOURCE_DATA_NOT_FOUND) {
            return std::nullopt;
        }
        throw ErrorFromCode(error);
    }
    const HGLOBAL loaded = ::LoadResource(nullptr, resource);  // not to be freed: part of the image
    const DWORD size = ::SizeofResource(nullptr, resource);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data || size == 0) throw LastError();
    return Bytes{static_cast<const char*>(data), size};
}

}  // namespace kdu::win32
