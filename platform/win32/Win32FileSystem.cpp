#include "platform/win32/Win32FileSystem.h"

#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/Paths.h"
#include "platform/win32/NewerWindowsFunctions.h"
#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {
namespace {

// Hashed and written in blocks, so that no call's length overflows a DWORD.
constexpr std::size_t kBlock = 1024 * 1024;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Shares everything: the product may have its pair open, and must not be blocked by a read.
UniqueFile OpenForReading(const std::wstring& path) {
    UniqueFile file{::CreateFileW(FileApiPath(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file) throw LastError(path);
    return file;
}

std::uint64_t SizeOfOpenFile(const UniqueFile& file, const std::wstring& path) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) throw LastError(path);
    return static_cast<std::uint64_t>(size.QuadPart);
}

void WriteAll(HANDLE file, std::string_view bytes, const std::wstring& path) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto size = static_cast<DWORD>(std::min(bytes.size(), kBlock));
        if (!::WriteFile(file, bytes.data(), size, &written, nullptr)) throw LastError(path);
        if (written == 0) throw ErrorFromCode(ERROR_WRITE_FAULT, path);
        bytes.remove_prefix(written);
    }
}

// The whole file through its handle. A file that grows or shrinks while it is read is another
// program at work: what was read is not a content the file ever wholly held.
Bytes ReadWhole(const UniqueFile& file, const std::wstring& path) {
    const auto size = SizeOfOpenFile(file, path);
    if (size > kLargestFileRead) throw SystemError{Failure::TooLarge, path};

    Bytes content(static_cast<std::size_t>(size) + 1, '\0');  // one more: a file that grew
    std::size_t filled = 0;
    for (DWORD read = 1; read != 0 && filled < content.size(); filled += read) {
        const auto wanted = static_cast<DWORD>(content.size() - filled);
        if (!::ReadFile(file.get(), content.data() + filled, wanted, &read, nullptr)) {
            throw LastError(path);
        }
    }
    if (filled != size) throw SystemError{Failure::ChangedDuringRun, path};
    content.resize(filled);
    return content;
}

// Held for as long as it lives: others may read the file, and nobody may write, rename or delete
// it.
class Win32HeldFile final : public HeldFile {
public:
    Win32HeldFile(UniqueFile file, Bytes content)
        : file_(std::move(file)), content_(std::move(content)) {}
    const Bytes& Content() const override { return content_; }

private:
    UniqueFile file_;
    Bytes content_;
};

DWORD Attributes(const std::wstring& path) {
    return ::GetFileAttributesW(FileApiPath(path).c_str());
}

// Windows refuses to rename over a read-only file; Wine does not. Refuse it everywhere.
void RefuseReadOnlyTarget(const std::wstring& target) {
    const DWORD attributes = Attributes(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        throw ErrorFromCode(ERROR_ACCESS_DENIED, target);
    }
}

// A file this program created and holds open with no sharing: renamed and flushed through that
// handle, and deleted through it (so never another file under its name) unless it got into place.
class Win32NewFile final : public NewFile {
public:
    Win32NewFile(UniqueFile file, std::wstring path)
        : file_(std::move(file)), path_(std::move(path)) {}
    Win32NewFile(const Win32NewFile&) = delete;
    Win32NewFile& operator=(const Win32NewFile&) = delete;
    ~Win32NewFile() override {
        if (inPlace_) return;
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        ::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition,
                                     sizeof(disposition));
    }

    HANDLE Handle() const { return file_.get(); }

    void RenameOver(const std::wstring& target) override {
        RefuseReadOnlyTarget(target);
        const std::wstring name = FileApiPath(target);
        // FILE_RENAME_INFO ends in the name, which runs past the structure.
        std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(name.size()) * DWORD{sizeof(wchar_t)};
        std::copy(name.begin(), name.end(), rename->FileName);
        if (!::SetFileInformationByHandle(file_.get(), FileRenameInfo, rename,
                                          static_cast<DWORD>(buffer.size()))) {
            throw LastError(target);
        }
        inPlace_ = true;
        path_ = target;
    }

    void Flush() override {
        if (!::FlushFileBuffers(file_.get())) throw LastError(path_);
    }

private:
    UniqueFile file_;
    std::wstring path_;
    bool inPlace_ = false;
};

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
    bool ownDacl = false;  // the DACL may have to be set on the new file (KeepsItsOwnDacl)
    SECURITY_INFORMATION protection = UNPROTECTED_DACL_SECURITY_INFORMATION;
    CarriedAttributes attributes = AttributesToCarry(0);
};

Likeness LikenessOf(const std::wstring& model) {
    const auto file = OpenItself(model, READ_CONTROL);
    Likeness likeness;
    likeness.attributes = AttributesToCarry(InformationOf(file, model).dwFileAttributes);
    const DWORD error =
        ::GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          &likeness.dacl, nullptr, likeness.descriptor.put());
    if (error != ERROR_SUCCESS) throw ErrorFromCode(error, model);
    const PSECURITY_DESCRIPTOR descriptor = likeness.descriptor.get();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorControl(descriptor, &control, &revision)) throw LastError(model);
    // A protected DACL stays as it is; one that inherits takes the folder's inheritable entries
    // anew, which are the same for a file beside it.
    if (control & SE_DACL_PROTECTED) likeness.protection = PROTECTED_DACL_SECURITY_INFORMATION;
    likeness.ownDacl = KeepsItsOwnDacl(descriptor);
    return likeness;
}

// The entries of a DACL that apply to a file, as they compare: an entry's inheritance flags say
// only where it came from or would go, and an inherit-only entry applies to nothing here.
std::vector<std::vector<BYTE>> EntriesThatApply(PSECURITY_DESCRIPTOR descriptor, bool& isNull) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    std::vector<std::vector<BYTE>> entries;
    isNull =
        !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl;
    if (isNull) return entries;
    constexpr BYTE kWhence =
        INHERITED_ACE | OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) {
            isNull = true;  // unreadable: compares with nothing
            return {};
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        const auto* bytes = static_cast<const BYTE*>(ace);
        std::vector<BYTE> entry{header->AceType, static_cast<BYTE>(header->AceFlags & ~kWhence)};
        entry.insert(entry.end(), bytes + sizeof(ACE_HEADER), bytes + header->AceSize);
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool IsProtected(PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return ::GetSecurityDescriptorControl(descriptor, &control, &revision) &&
           (control & SE_DACL_PROTECTED);
}

bool InheritsTheSameAccess(HANDLE file, const Likeness& likeness) {
    UniqueLocalMemory inherited;
    PACL dacl = nullptr;
    return ::GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                             &dacl, nullptr, inherited.put()) == ERROR_SUCCESS &&
           GrantTheSame(inherited.get(), likeness.descriptor.get());
}

// CREATE_NEW: a file planted under this name is never written through. Encrypted from the start
// where the model is, so no byte is ever on the disk in the clear. No sharing: nothing else opens
// it until it is in place. From here a failure deletes the file through its handle. Refused
// WRITE_DAC where a file without it could be made: model's DACL is what cannot be kept.
std::unique_ptr<Win32NewFile> CreateNewFile(const std::wstring& path, const std::wstring& model,
                                            const Likeness& likeness, DWORD moreAccess) {
    UniqueFile created{::CreateFileW(FileApiPath(path).c_str(),
                                     GENERIC_WRITE | DELETE | READ_CONTROL | moreAccess, 0, nullptr,
                                     CREATE_NEW, likeness.attributes.atCreation, nullptr)};
    if (!created && moreAccess == WRITE_DAC && ::GetLastError() == ERROR_ACCESS_DENIED) {
        throw SystemError{Failure::PermissionsNotKept, model};
    }
    if (!created) throw LastError(path);
    return std::make_unique<Win32NewFile>(std::move(created), path);
}

}  // namespace

CarriedAttributes AttributesToCarry(DWORD model) {
    // OneDrive's "Always keep on this device" and "Free up space". CreateFileW would read these
    // bits as FILE_FLAG_FIRST_PIPE_INSTANCE and FILE_FLAG_OPEN_NO_RECALL: they are set afterwards.
    constexpr DWORD kPinned = 0x00080000;    // FILE_ATTRIBUTE_PINNED
    constexpr DWORD kUnpinned = 0x00100000;  // FILE_ATTRIBUTE_UNPINNED
    constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ARCHIVE;
    const DWORD atCreation = model & (kCarried | FILE_ATTRIBUTE_ENCRYPTED);
    const DWORD afterwards = model & (kCarried | kPinned | kUnpinned);
    // Given nothing, an encrypted file is left as it was made (0), any other is made normal.
    const DWORD plain = (model & FILE_ATTRIBUTE_ENCRYPTED) ? 0 : FILE_ATTRIBUTE_NORMAL;
    return {atCreation ? atCreation : FILE_ATTRIBUTE_NORMAL, afterwards ? afterwards : plain};
}

bool GrantTheSame(PSECURITY_DESCRIPTOR made, PSECURITY_DESCRIPTOR model) {
    if (IsProtected(made) != IsProtected(model)) return false;
    bool madeIsNull = false;
    bool modelIsNull = false;
    const auto madeEntries = EntriesThatApply(made, madeIsNull);
    const auto modelEntries = EntriesThatApply(model, modelIsNull);
    return !madeIsNull && !modelIsNull && madeEntries == modelEntries;
}

bool KeepsItsOwnDacl(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        return true;  // unreadable: set it, and refuse if it cannot be
    }
    if (!present || !dacl) return false;
    if ((control & SE_DACL_PROTECTED) || dacl->AceCount == 0) return true;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) return true;
        if (!(static_cast<const ACE_HEADER*>(ace)->AceFlags & INHERITED_ACE)) return true;
    }
    return false;
}

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

Bytes Win32FileSystem::ReadAll(const std::wstring& path) {
    return ReadWhole(OpenForReading(path), path);
}

bool Win32FileSystem::Exists(const std::wstring& path) {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
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
    // Replacing renames over the file, which NTFS refuses while any program has it open, even
    // one that shares everything: open it as the rename will, for DELETE and sharing nothing.
    const UniqueFile file{::CreateFileW(FileApiPath(path).c_str(), DELETE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    if (!file) throw LastError(path);
}

bool Win32FileSystem::IsReadOnly(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

FileFacts Win32FileSystem::Inspect(const std::wstring& path) {
    const auto file = OpenItself(path);
    FileFacts facts;
    facts.links = InformationOf(file, path).nNumberOfLinks;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
        throw LastError(path);
    }
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) facts.reparseTag = tag.ReparseTag;
    return facts;
}

std::unique_ptr<NewFile> Win32FileSystem::WriteNewFile(const Bytes& content,
                                                       const std::wstring& path,
                                                       const std::wstring& model) {
    const auto likeness = LikenessOf(model);
    auto file = CreateNewFile(path, model, likeness, 0);
    // Model's permissions before the first byte: the content is never readable by more people
    // than before, nor by fewer (the product's service account, say). A DACL that only inherits
    // is the one the new file already has. Setting one takes WRITE_DAC, which a share with the
    // "Change" permission, or a NAS that shows inherited entries as the file's own, does not
    // grant: asked for only where what the file inherited lets in others, the empty file made
    // again with it.
    if (likeness.ownDacl && !InheritsTheSameAccess(file->Handle(), likeness)) {
        file.reset();  // deleted through its handle
        file = CreateNewFile(path, model, likeness, WRITE_DAC);
        const DWORD error = ::SetSecurityInfo(file->Handle(), SE_FILE_OBJECT,
                                              DACL_SECURITY_INFORMATION | likeness.protection,
                                              nullptr, nullptr, likeness.dacl, nullptr);
        if (error == ERROR_ACCESS_DENIED || error == ERROR_NOT_SUPPORTED) {
            throw SystemError{Failure::PermissionsNotKept, model};
        }
        if (error != ERROR_SUCCESS) throw ErrorFromCode(error, path);
    }
    // Creation takes not every attribute (not-content-indexed, the pins, for two).
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = likeness.attributes.afterwards;
    if (!::SetFileInformationByHandle(file->Handle(), FileBasicInfo, &basic, sizeof(basic))) {
        throw LastError(path);
    }
    WriteAll(file->Handle(), content, path);
    // On the disk before it is renamed into place: a crash leaves the old file or the new one.
    file->Flush();
    return file;
}

std::unique_ptr<HeldFile> Win32FileSystem::Hold(const std::wstring& path) {
    UniqueFile file{::CreateFileW(FileApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file) throw LastError(path);
    auto content = ReadWhole(file, path);
    return std::make_unique<Win32HeldFile>(std::move(file), std::move(content));
}

void Win32FileSystem::Remove(const std::wstring& path) {
    if (::DeleteFileW(FileApiPath(path).c_str())) return;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        throw ErrorFromCode(error, path);
    }
}

// The folders User Account Control virtualizes, as this process's environment names them (in a
// 32-bit process on 64-bit Windows, ProgramFiles is the x86 one and ProgramW6432 the other).
std::wstring Win32FileSystem::VirtualStoreCopyOf(const std::wstring& path) {
    const auto expanded = [](const wchar_t* variable) {
        wchar_t value[MAX_PATH] = {};
        const DWORD size = ::ExpandEnvironmentStringsW(variable, value, MAX_PATH);
        return size > 0 && size <= MAX_PATH && value[0] != L'%' ? std::wstring{value}
                                                                : std::wstring{};
    };
    std::vector<std::wstring> virtualized;
    for (const wchar_t* folder : {L"%ProgramFiles%", L"%ProgramFiles(x86)%", L"%ProgramW6432%",
                                  L"%SystemRoot%", L"%ProgramData%"}) {
        if (auto value = expanded(folder); !value.empty()) virtualized.push_back(std::move(value));
    }
    return VirtualStorePathOf(path, expanded(L"%LOCALAPPDATA%"), virtualized);
}

}  // namespace kdu::win32
