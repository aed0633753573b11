#pragma once

// Helpers the Windows tests share: real folders, files and registry values to test against.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/SystemError.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::testing {

// A new, empty folder, deleted with everything in it when the object goes.
class TempFolder {
public:
    explicit TempFolder(std::wstring_view nameHint = L"kdu");
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(std::wstring_view name) const;

private:
    std::wstring path_;
};

void DeleteTree(const std::wstring& folder);
void WriteFileBytes(const std::wstring& path, std::string_view bytes);
std::string ReadFileBytes(const std::wstring& path);  // throws if the file cannot be read
bool FileExists(const std::wstring& path);
// The names of the files (not folders) in a folder, sorted.
std::vector<std::wstring> FileNames(const std::wstring& folder);
// Bytes that look like nothing in particular, the same for the same seed.
std::string RandomBytes(std::size_t size, std::uint64_t seed);
// bytes as one PEM block: base64 lines of 64 characters between the BEGIN and END lines.
std::string PemText(std::string_view label, std::string_view bytes);

// A file of the source tree (sample/..., tests/fixtures/...), whole.
std::string SourceFile(std::wstring_view relative);
// The sample deployment's certificate and key, a pair that passes every check of the program
// until 2036. With atLeast, made that large as the PEM rules allow: the certificate repeated as
// a chain, the key after lines of text.
struct Pair {
    std::string certificate;
    std::string key;
};
Pair SamplePair(std::size_t atLeast = 0);
// The sample's installed pair (the one the sample deployment replaces), likewise.
Pair PreviousSamplePair(std::size_t atLeast = 0);

// A file's DACL, set and read in SDDL ("D:P(A;;FA;;;WD)"). Wine keeps no DACL: it maps one onto
// the Unix permission bits and reads back a made-up default, in which only an entry letting
// Everyone write shows, as "(A;;0x1301ff;;;WD)". That entry stands in for a carried-over DACL.
void SetFileDacl(const std::wstring& path, const std::wstring& sddl);
win32::UniqueLocalMemory SecurityDescriptorOf(const std::wstring& sddl);
std::wstring FileDacl(const std::wstring& path);
inline constexpr wchar_t kEveryoneWritesDacl[] = L"D:P(A;;FA;;;WD)";
inline constexpr wchar_t kEveryoneWritesEntry[] = L"(A;;0x1301ff;;;WD)";

// Registry values under HKEY_CURRENT_USER.
void SetStringValue(const std::wstring& key, const std::wstring& name, std::wstring_view value,
                    DWORD type = REG_SZ);
void SetDwordValue(const std::wstring& key, const std::wstring& name, DWORD value);
void SetBinaryValue(const std::wstring& key, const std::wstring& name, std::string_view bytes);
void DeleteValue(const std::wstring& key, const std::wstring& name);
// The default string value of a key under HKEY_LOCAL_MACHINE (empty if none), and setting it:
// for the prefix's class registrations, the only ones Wine reads.
std::wstring MachineStringValue(const std::wstring& key);
void SetMachineStringValue(const std::wstring& key, const std::wstring& value);

// UTF-8 to UTF-16 and to Big5 (code page 950), for writing test data.
std::wstring Wide(std::string_view utf8);
std::string Big5(std::wstring_view text);

// An environment variable, or the empty text.
std::wstring Environment(const wchar_t* name);

}  // namespace kdu::testing
