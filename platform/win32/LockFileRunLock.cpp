#include "platform/win32/LockFileRunLock.h"

#include "platform/win32/SystemErrors.h"
#include "platform/win32/Win32FileSystem.h"

namespace kdu::win32 {

LockVerdict JudgeLockFile(DWORD openError, DWORD attributesError, DWORD plainOpenError) noexcept {
    if (openError == ERROR_SHARING_VIOLATION) return LockVerdict::Held;
    if (openError != ERROR_ACCESS_DENIED) return LockVerdict::Refused;
    if (attributesError == ERROR_ACCESS_DENIED) return LockVerdict::Held;  // being deleted
    if (attributesError != NO_ERROR) return LockVerdict::Refused;          // none can be made
    if (plainOpenError == ERROR_ACCESS_DENIED) return LockVerdict::NotOpenable;
    return plainOpenError == NO_ERROR ? LockVerdict::Leftover : LockVerdict::Held;
}

std::wstring MachineLockName(const std::wstring& lockFile) {
    wchar_t full[MAX_PATH * 4] = {};
    const DWORD length = ::GetFullPathNameW(lockFile.c_str(), MAX_PATH * 4, full, nullptr);
    std::wstring path = length > 0 && length < MAX_PATH * 4 ? std::wstring{full, length} : lockFile;
    // FNV-1a over the path, ASCII letters folded (a name may hold no "\\"). Another spelling of
    // the same folder (a share's name beside its drive letter) gives another mutex: the lock
    // file still keeps such runs apart.
    std::uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : path) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        hash ^= static_cast<std::uint64_t>(c);
        hash *= 1099511628211ull;
    }
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring name = L"Global\\KestovaDesktopUpdater-";
    for (int shift = 60; shift >= 0; shift -= 4) name.push_back(kDigits[(hash >> shift) & 0xF]);
    return name;
}

bool LockFileRunLock::TryAcquire(const std::wstring& lockFile) {
    if (!TakeMachineLock(lockFile)) return false;
    try {
        if (TakeLockFile(lockFile)) return true;
    } catch (...) {
        Release();
        throw;
    }
    Release();
    return false;
}

// Another user's run makes the mutex this user may not open: it is held.
bool LockFileRunLock::TakeMachineLock(const std::wstring& lockFile) {
    UniqueKernelObject mutex{::CreateMutexW(nullptr, FALSE, MachineLockName(lockFile).c_str())};
    if (!mutex) {
        if (::GetLastError() == ERROR_ACCESS_DENIED) return false;
        throw LastError(lockFile);
    }
    const DWORD waited = ::WaitForSingleObject(mutex.get(), 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
    mutex_ = std::move(mutex);
    return true;
}

bool LockFileRunLock::TakeLockFile(const std::wstring& lockFile) {
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
        case LockVerdict::NotOpenable:
            return true;  // the mutex is the lock
        case LockVerdict::Refused:
            break;
    }
    throw ErrorFromCode(openError, lockFile);
}

void LockFileRunLock::Release() noexcept {
    file_.reset();
    if (mutex_) ::ReleaseMutex(mutex_.get());
    mutex_.reset();
}

}  // namespace kdu::win32
