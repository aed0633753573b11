#include "platform/win32/Win32FileSystem.h"

#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {
namespace {

// Files this program reads whole are small; anything larger is refused rather than exhausting a
// 32-bit address space.
constexpr LONGLONG kLargestFileRead = 64LL * 1024 * 1024;
constexpr DWORD kCopyBlock = 1024 * 1024;

UniqueFile OpenForReading(const std::wstring& path) {
    UniqueFile file{::CreateFileW(FileApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file) throw LastError(path);
    return file;
}

std::uint64_t SizeOfOpenFile(const UniqueFile& file, const std::wstring& path) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) throw LastError(path);
    return static_cast<std::uint64_t>(size.QuadPart);
}

// Reads up to buffer's size; fewer bytes only at the end of the file.
DWORD ReadBlock(const UniqueFile& file, std::vector<char>& buffer, const std::wstring& path) {
    DWORD filled = 0;
    while (filled < buffer.size()) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data() + filled,
                        static_cast<DWORD>(buffer.size()) - filled, &read, nullptr)) {
            throw LastError(path);
        }
        if (read == 0) break;
        filled += read;
    }
    return filled;
}

void WriteBlock(const UniqueFile& file, const char* data, DWORD size, const std::wstring& path) {
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(file.get(), data, size, &written, nullptr)) throw LastError(path);
        data += written;
        size -= written;
    }
}

DWORD Attributes(const std::wstring& path) {
    return ::GetFileAttributesW(FileApiPath(path).c_str());
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The file at path itself, even where it is a link, open only to read its attributes and, if
// asked, its permissions.
UniqueFile OpenItself(const std::wstring& path, DWORD access = 0) {
    UniqueFile file{::CreateFileW(FileApiPath(path).c_str(), FILE_READ_ATTRIBUTES | access,
                                  kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr)};
    if (!file) throw LastError(path);
    return file;
}

BY_HANDLE_FILE_INFORMATION InformationOf(const UniqueFile& file, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file.get(), &information)) throw LastError(path);
    return information;
}

// What a new file takes over from the one whose place it takes.
struct Likeness {
    UniqueLocalMemory descriptor;  // owns dacl
    PACL dacl = nullptr;
    SECURITY_INFORMATION protection = UNPROTECTED_DACL_SECURITY_INFORMATION;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;  // those it is created with
};

Likeness LikenessOf(const std::wstring& model) {
    const auto file = OpenItself(model, READ_CONTROL);
    constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ARCHIVE |
                               FILE_ATTRIBUTE_ENCRYPTED;
    Likeness likeness;
    if (const DWORD carried = InformationOf(file, model).dwFileAttributes & kCarried) {
        likeness.attributes = carried;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                          nullptr, nullptr, &likeness.dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) throw ErrorFromCode(error, model);
    likeness.descriptor.reset(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorControl(descriptor, &control, &revision)) throw LastError(model);
    // A protected DACL stays as it is; one that inherits takes the folder's inheritable entries
    // anew, which are the same for a file beside it.
    if (control & SE_DACL_PROTECTED) likeness.protection = PROTECTED_DACL_SECURITY_INFORMATION;
    return likeness;
}

}  // namespace

std::wstring FileApiPath(const std::wstring& path) {
    if (path.size() < MAX_PATH || path.starts_with(L"\\\\?\\")) return path;
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

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
    const auto file = OpenForReading(path);
    const auto size = SizeOfOpenFile(file, path);
    if (size > kLargestFileRead) throw ErrorFromCode(ERROR_FILE_TOO_LARGE, path);

    Bytes content(static_cast<std::size_t>(size), '\0');
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

std::uint64_t Win32FileSystem::SizeOf(const std::wstring& path) {
    return SizeOfOpenFile(OpenForReading(path), path);
}

bool Win32FileSystem::SameContent(const std::wstring& first, const std::wstring& second) {
    const auto a = OpenForReading(first);
    const auto b = OpenForReading(second);
    if (SizeOfOpenFile(a, first) != SizeOfOpenFile(b, second)) return false;
    std::vector<char> blockA(kCopyBlock);
    std::vector<char> blockB(kCopyBlock);
    for (;;) {
        const DWORD readA = ReadBlock(a, blockA, first);
        const DWORD readB = ReadBlock(b, blockB, second);
        if (readA != readB || !std::equal(blockA.data(), blockA.data() + readA, blockB.data())) {
            return false;
        }
        if (readA < kCopyBlock) return true;
    }
}

bool Win32FileSystem::Exists(const std::wstring& path) {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

// CryptoAPI lives in advapi32, a KnownDLL, and loads its provider by the full path the registry
// gives: hashing loads nothing from the folder the program was downloaded to.
Sha256Digest Win32FileSystem::Sha256Of(const std::wstring& path) {
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        throw LastError(path);
    }
    const UniqueCryptProvider providerOwner{provider};
    HCRYPTHASH hash = 0;
    if (!::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) throw LastError(path);
    const UniqueCryptHash hashOwner{hash};

    const auto file = OpenForReading(path);
    std::vector<char> block(kCopyBlock);
    for (;;) {
        const DWORD read = ReadBlock(file, block, path);
        if (!::CryptHashData(hash, reinterpret_cast<const BYTE*>(block.data()), read, 0)) {
            throw LastError(path);
        }
        if (read < kCopyBlock) break;
    }
    Sha256Digest digest{};
    DWORD size = digest.size();
    if (!::CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &size, 0)) throw LastError(path);
    return digest;
}

bool Win32FileSystem::SameFileName(std::string_view utf8Name, std::wstring_view name) {
    if (utf8Name.empty() || utf8Name.size() > 32767 || name.size() > 32767) return false;
    const int size = static_cast<int>(utf8Name.size());
    const int length =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Name.data(), size, nullptr, 0);
    if (length <= 0) return false;  // not UTF-8: no file's name
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Name.data(), size, wide.data(),
                          length);
    return ::CompareStringOrdinal(wide.data(), length, name.data(), static_cast<int>(name.size()),
                                  TRUE) == CSTR_EQUAL;
}

void Win32FileSystem::CheckReplaceable(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) throw LastError(path);
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        throw ErrorFromCode(ERROR_ACCESS_DENIED, path);
    }
    // Replacing renames over the file: that needs write and delete access, which another
    // process holding it open without sharing them denies.
    const UniqueFile file{::CreateFileW(FileApiPath(path).c_str(), GENERIC_WRITE | DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr)};
    if (!file) throw LastError(path);
}

bool Win32FileSystem::IsReadOnly(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

FileFacts Win32FileSystem::Inspect(const std::wstring& path) {
    const auto information = InformationOf(OpenItself(path), path);
    FileFacts facts;
    facts.reparsePoint = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts.links = information.nNumberOfLinks;
    return facts;
}

void Win32FileSystem::CopyToNewFile(const std::wstring& source, const std::wstring& destination,
                                    const std::wstring& model) {
    const auto likeness = LikenessOf(model);
    const auto from = OpenForReading(source);
    // CREATE_NEW: a file planted under this name is never written through. Encrypted from the
    // start where model is, so no byte is ever on the disk in the clear.
    const UniqueFile to{::CreateFileW(FileApiPath(destination).c_str(), GENERIC_WRITE | WRITE_DAC,
                                      0, nullptr, CREATE_NEW, likeness.attributes, nullptr)};
    if (!to) throw LastError(destination);
    // Model's permissions before the first byte: the content is never readable by more people
    // than before.
    const DWORD error =
        ::SetSecurityInfo(to.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | likeness.protection,
                          nullptr, nullptr, likeness.dacl, nullptr);
    if (error != ERROR_SUCCESS) throw ErrorFromCode(error, destination);
    // Creation takes not every attribute (not-content-indexed, for one); 0 leaves them as they are.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = likeness.attributes & ~FILE_ATTRIBUTE_ENCRYPTED;
    if (!::SetFileInformationByHandle(to.get(), FileBasicInfo, &basic, sizeof(basic))) {
        throw LastError(destination);
    }
    std::vector<char> block(kCopyBlock);
    for (;;) {
        const DWORD read = ReadBlock(from, block, source);
        WriteBlock(to, block.data(), read, destination);
        if (read < kCopyBlock) break;
    }
    // On the disk before it is renamed into place: a crash leaves the old file or the new one.
    if (!::FlushFileBuffers(to.get())) throw LastError(destination);
}

void Win32FileSystem::MoveReplacing(const std::wstring& from, const std::wstring& to) {
    // Windows refuses to rename over a read-only file; Wine does not. Refuse it everywhere.
    const DWORD attributes = Attributes(to);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        throw ErrorFromCode(ERROR_ACCESS_DENIED, to);
    }
    if (!::MoveFileExW(FileApiPath(from).c_str(), FileApiPath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        throw LastError(to);
    }
}

void Win32FileSystem::Flush(const std::wstring& path) {
    const UniqueFile file{::CreateFileW(FileApiPath(path).c_str(), GENERIC_WRITE, kShareAll,
                                        nullptr, OPEN_EXISTING, 0, nullptr)};
    if (!file) throw LastError(path);
    if (!::FlushFileBuffers(file.get())) throw LastError(path);
}

void Win32FileSystem::Remove(const std::wstring& path) {
    if (::DeleteFileW(FileApiPath(path).c_str())) return;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        throw ErrorFromCode(error, path);
    }
}

void Win32Pause::Sleep(unsigned milliseconds) { ::Sleep(milliseconds); }

std::wstring Win32TextDecoder::Decode(std::string_view bytes, Encoding encoding) {
    if (bytes.empty()) return {};
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw ErrorFromCode(ERROR_ARITHMETIC_OVERFLOW);
    }
    constexpr UINT kBig5 = 950;
    const UINT codePage = encoding == Encoding::Utf8 ? CP_UTF8 : kBig5;
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
