#include "platform/win32/Win32FileSystem.h"

#include <windows.h>

#include <limits>

#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {
namespace {

// Files this program reads whole are small; anything larger is refused rather than exhausting a
// 32-bit address space.
constexpr LONGLONG kLargestFileRead = 64LL * 1024 * 1024;

}  // namespace

std::wstring Win32FileSystem::ExecutablePath() {
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

Bytes Win32FileSystem::ReadAll(const std::wstring& path) {
    const UniqueFile file{::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file) throw LastError(path);

    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) throw LastError(path);
    if (size.QuadPart > kLargestFileRead) throw ErrorFromCode(ERROR_FILE_TOO_LARGE, path);

    Bytes content(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t filled = 0;
    while (filled < content.size()) {
        DWORD read = 0;
        const auto wanted = static_cast<DWORD>(content.size() - filled);
        if (!::ReadFile(file.get(), content.data() + filled, wanted, &read, nullptr)) {
            throw LastError(path);
        }
        if (read == 0) break;  // the file shrank while it was read
        filled += read;
    }
    content.resize(filled);
    return content;
}

std::wstring Win32TextDecoder::Decode(std::string_view bytes, Encoding encoding) {
    if (bytes.empty()) return {};
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw ErrorFromCode(ERROR_ARITHMETIC_OVERFLOW);
    }
    const UINT codePage = encoding == Encoding::Utf8 ? CP_UTF8 : CP_ACP;
    const int byteCount = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), byteCount, nullptr, 0);
    if (length == 0) throw LastError();
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(codePage, 0, bytes.data(), byteCount, text.data(), length) == 0) {
        throw LastError();
    }
    return text;
}

}  // namespace kdu::win32
