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

class Win32FileSystem final : public FileSystem {
public:
    Bytes ReadAll(const std::wstring& path) override;
    bool Exists(const std::wstring& path) override;
    Sha256Digest Sha256Of(std::string_view bytes) override;
    bool SameFileName(std::string_view utf8Name, std::wstring_view name) override;
    void CheckReplaceable(const std::wstring& path) override;
    bool IsReadOnly(const std::wstring& path) override;
    FileFacts Inspect(const std::wstring& path) override;
    std::unique_ptr<NewFile> WriteNewFile(const Bytes& content, const std::wstring& path,
                                          const std::wstring& model) override;
    void Remove(const std::wstring& path) override;
    std::unique_ptr<HeldFile> Hold(const std::wstring& path) override;
};

// The path as the file functions take it: paths of MAX_PATH or more get the "\\?\" form, so
// that they work without the system's long-path setting.
std::wstring FileApiPath(const std::wstring& path);

}  // namespace kdu::win32
