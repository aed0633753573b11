#include "tests/support/Win32TestSupport.h"

// after windows.h, which they need
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "platform/win32/SystemErrors.h"

namespace kdu::testing {

using win32::ErrorFromCode;
using win32::LastError;
using win32::UniqueFile;
using win32::UniqueKey;
using win32::UniqueLocalMemory;

TempFolder::TempFolder(std::wstring_view nameHint) {
    std::wstring base = Environment(L"KDU_TEST_WORK");
    if (base.empty()) {
        wchar_t temp[MAX_PATH + 1];
        base.assign(temp, ::GetTempPathW(MAX_PATH + 1, temp));
    }
    std::replace(base.begin(), base.end(), L'/', L'\\');  // as the system writes paths
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    ::CreateDirectoryW(base.c_str(), nullptr);
    for (unsigned attempt = 0;; ++attempt) {
        path_ = base + std::wstring{nameHint} + L'-' + std::to_wstring(::GetCurrentProcessId()) +
                L'-' + std::to_wstring(::GetTickCount() + attempt);
        if (::CreateDirectoryW(path_.c_str(), nullptr)) return;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) throw LastError(path_);
    }
}

TempFolder::~TempFolder() { DeleteTree(path_); }

std::wstring TempFolder::operator/(std::wstring_view name) const {
    return path_ + L'\\' + std::wstring{name};
}

void DeleteTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    const win32::UniqueFind search{::FindFirstFileW((folder + L"\\*").c_str(), &entry)};
    if (search) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L'\\' + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(path);
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search.get(), &entry));
    }
    ::RemoveDirectoryW(folder.c_str());
}

std::vector<std::wstring> FileNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    const win32::UniqueFind search{::FindFirstFileW((folder + L"\\*").c_str(), &entry)};
    if (!search) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
    } while (::FindNextFileW(search.get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

std::string RandomBytes(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 random{seed};
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const auto word = random();
        std::memcpy(&bytes[i], &word, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

std::string SourceFile(std::wstring_view relative) {
    return ReadFileBytes(std::wstring{KDU_SOURCE_FOLDER} + L"/" + std::wstring{relative});
}

namespace {

Pair PaddedPair(std::wstring_view certificateFile, std::wstring_view keyFile, std::size_t atLeast) {
    Pair pair{SourceFile(certificateFile), SourceFile(keyFile)};
    const std::string certificate = pair.certificate;
    while (pair.certificate.size() < atLeast) pair.certificate += certificate;
    std::string padding;
    const std::string line = "Text outside the PEM block, which the program reads past.\n";
    while (padding.size() + pair.key.size() < atLeast) padding += line;
    pair.key = padding + pair.key;
    return pair;
}

}  // namespace

Pair SamplePair(std::size_t atLeast) {
    return PaddedPair(L"sample/deployment/new-cert.pem", L"sample/deployment/new-key.pem", atLeast);
}

Pair PreviousSamplePair(std::size_t atLeast) {
    return PaddedPair(L"sample/installed/Certificate.pem", L"sample/installed/PrivateKey.pem",
                      atLeast);
}

std::string PemText(std::string_view label, std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string base64;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = 0;
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t j = 0; j < 3; ++j) {
            group = (group << 8) | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            base64 += j <= count ? kDigits[(group >> (18 - 6 * j)) & 0x3F] : '=';
        }
    }
    std::string pem = "-----BEGIN " + std::string{label} + "-----\n";
    for (std::size_t i = 0; i < base64.size(); i += 64) pem += base64.substr(i, 64) + "\n";
    return pem + "-----END " + std::string{label} + "-----\n";
}

void WriteFileBytes(const std::wstring& path, std::string_view bytes) {
    const UniqueFile file{::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file) throw LastError(path);
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
        written != bytes.size()) {
        throw LastError(path);
    }
}

std::string ReadFileBytes(const std::wstring& path) {
    const UniqueFile file{::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr)};
    if (!file) throw LastError(path);
    std::string content;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    return content;
}

bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

UniqueLocalMemory SecurityDescriptorOf(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        throw LastError(sddl);
    }
    return UniqueLocalMemory{descriptor};
}

void SetFileDacl(const std::wstring& path, const std::wstring& sddl) {
    const auto owner = SecurityDescriptorOf(sddl);
    PSECURITY_DESCRIPTOR descriptor = owner.get();
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        throw LastError(path);
    std::wstring name = path;
    const DWORD error =
        ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS) throw ErrorFromCode(error, path);
}

std::wstring FileDacl(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) throw ErrorFromCode(error, path);
    const UniqueLocalMemory owner{descriptor};
    wchar_t* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        throw LastError(path);
    }
    const UniqueLocalMemory textOwner{text};
    return text;
}

namespace {

UniqueKey CreateKey(const std::wstring& key) {
    HKEY handle = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) throw win32::ErrorFromCode(static_cast<DWORD>(status), key);
    return UniqueKey{handle};
}

void SetValue(const std::wstring& key, const std::wstring& name, DWORD type, const void* data,
              std::size_t size) {
    const auto handle = CreateKey(key);
    const LSTATUS status =
        ::RegSetValueExW(handle.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data),
                         static_cast<DWORD>(size));
    if (status != ERROR_SUCCESS) throw win32::ErrorFromCode(static_cast<DWORD>(status), key);
}

}  // namespace

void SetStringValue(const std::wstring& key, const std::wstring& name, std::wstring_view value,
                    DWORD type) {
    std::wstring data{value};
    if (type == REG_MULTI_SZ) data.push_back(L'\0');
    SetValue(key, name, type, data.c_str(), (data.size() + 1) * sizeof(wchar_t));
}

void SetDwordValue(const std::wstring& key, const std::wstring& name, DWORD value) {
    SetValue(key, name, REG_DWORD, &value, sizeof(value));
}

void SetBinaryValue(const std::wstring& key, const std::wstring& name, std::string_view bytes) {
    SetValue(key, name, REG_BINARY, bytes.data(), bytes.size());
}

void DeleteValue(const std::wstring& key, const std::wstring& name) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str());
}

std::wstring MachineStringValue(const std::wstring& key) {
    wchar_t value[256] = {};
    DWORD size = sizeof(value);
    ::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
}

void SetMachineStringValue(const std::wstring& key, const std::wstring& value) {
    const std::size_t bytes = (value.size() + 1) * sizeof(wchar_t);
    const LSTATUS status = ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ,
                                             value.c_str(), static_cast<DWORD>(bytes));
    if (status != ERROR_SUCCESS) throw win32::ErrorFromCode(static_cast<DWORD>(status), key);
}

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    std::wstring text(
        static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
        L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(),
                          static_cast<int>(text.size()));
    return text;
}

std::string Big5(std::wstring_view text) {
    constexpr UINT kBig5 = 950;
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    std::string bytes(static_cast<std::size_t>(::WideCharToMultiByte(kBig5, 0, text.data(), size,
                                                                     nullptr, 0, nullptr, nullptr)),
                      '\0');
    ::WideCharToMultiByte(kBig5, 0, text.data(), size, bytes.data(), static_cast<int>(bytes.size()),
                          nullptr, nullptr);
    return bytes;
}

std::wstring Environment(const wchar_t* name) {
    std::vector<wchar_t> value(32768);
    const DWORD length =
        ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    return length > 0 && length < value.size() ? std::wstring{value.data(), length} : L"";
}

}  // namespace kdu::testing
