#pragma once

#include <windows.h>

#include "platform/Ports.h"

namespace kdu::win32 {

// Whether a new file made like one with this security descriptor must be given its DACL: where
// that DACL is protected, or has entries of its own (or none at all). One that only inherits is
// what a new file in the same folder gets by itself; a missing DACL lets anyone in, and the
// folder's inheritable entries let in no more. Setting a DACL takes WRITE_DAC, which a share with
// the "Change" permission or a NAS without Windows ACLs does not grant.
bool KeepsItsOwnDacl(PSECURITY_DESCRIPTOR descriptor);

// Whether a new file's DACL, as it inherited it, lets in the same people for the same access as
// its model's: then it is kept as it is, and WRITE_DAC never asked for. A share that shows
// inherited entries as the file's own (Samba without inherited ACLs) gives the same entries.
bool GrantTheSame(PSECURITY_DESCRIPTOR made, PSECURITY_DESCRIPTOR model);

// The attributes a new file takes over from its model: those it is created with, and those it is
// given after (the same without encryption, which only creation gives, and with OneDrive's pins,
// which creation would read as flags).
struct CarriedAttributes {
    DWORD atCreation = FILE_ATTRIBUTE_NORMAL;
    DWORD afterwards = FILE_ATTRIBUTE_NORMAL;
};
CarriedAttributes AttributesToCarry(DWORD model);

class Win32FileSystem final : public FileSystem {
public:
    Bytes ReadAll(const std::wstring& path) override;
    bool Exists(const std::wstring& path) override;
    bool SameFileName(std::string_view utf8Name, std::wstring_view name) override;
    void CheckReplaceable(const std::wstring& path) override;
    bool IsReadOnly(const std::wstring& path) override;
    FileFacts Inspect(const std::wstring& path) override;
    std::unique_ptr<NewFile> WriteNewFile(const Bytes& content, const std::wstring& path,
                                          const std::wstring& model) override;
    void Remove(const std::wstring& path) override;
    std::unique_ptr<HeldFile> Hold(const std::wstring& path) override;
    std::wstring VirtualStoreCopyOf(const std::wstring& path) override;
};

// The path as the file functions take it: paths of MAX_PATH or more get the "\\?\" form, so
// that they work without the system's long-path setting.
std::wstring FileApiPath(const std::wstring& path);

}  // namespace kdu::win32
