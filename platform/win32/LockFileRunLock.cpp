#include "platform/win32/LockFileRunLock.h"

#include "platform/win32/SystemErrors.h"
#include "platform/win32/Win32FileSystem.h"

namespace kdu::win32 {

bool LockFileRunLock::TryAcquire(const std::wstring& lockFile) {
    const std::wstring path = FileApiPath(lockFile);
    UniqueFile file{::CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)};
    if (file) {
        file_ = std::move(file);
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return false;
    // A lock file that is there but denies access is being deleted as its holder ends, or
    // belongs to a run whose rights this one lacks: held either way. Access denied without one
    // is a folder this user may not write to.
    if (error == ERROR_ACCESS_DENIED &&
        ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    throw ErrorFromCode(error, lockFile);
}

void LockFileRunLock::Release() noexcept { file_.reset(); }

}  // namespace kdu::win32
