#include "platform/win32/LockFileRunLock.h"

#include "platform/win32/SystemErrors.h"
#include "platform/win32/Win32FileSystem.h"

namespace kdu::win32 {

LockVerdict JudgeLockFile(DWORD openError, DWORD attributesError, DWORD plainOpenError) noexcept {
    if (openError == ERROR_SHARING_VIOLATION) return LockVerdict::Held;
    if (openError != ERROR_ACCESS_DENIED) return LockVerdict::Refused;
    if (attributesError == ERROR_ACCESS_DENIED) return LockVerdict::Held;  // being deleted
    if (attributesError != NO_ERROR) return LockVerdict::Refused;          // none can be made
    return plainOpenError == NO_ERROR ? LockVerdict::Leftover : LockVerdict::Held;
}

bool LockFileRunLock::TryAcquire(const std::wstring& lockFile) {
    const std::wstring path = FileApiPath(lockFile);
    UniqueFile file{::CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)};
    if (file) {
        file_ = std::move(file);
        return true;
    }
    const DWORD openError = ::GetLastError();
    DWORD attributesError = NO_ERROR;
    DWORD plainOpenError = ERROR_ACCESS_DENIED;
    if (openError == ERROR_ACCESS_DENIED) {
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            attributesError = ::GetLastError();
        } else {
            file.reset(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            plainOpenError = file ? NO_ERROR : ::GetLastError();
        }
    }
    switch (JudgeLockFile(openError, attributesError, plainOpenError)) {
        case LockVerdict::Held:
            return false;
        case LockVerdict::Leftover:
            file_ = std::move(file);
            return true;
        case LockVerdict::Refused:
            break;
    }
    throw ErrorFromCode(openError, lockFile);
}

void LockFileRunLock::Release() noexcept { file_.reset(); }

}  // namespace kdu::win32
