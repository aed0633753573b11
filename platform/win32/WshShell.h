#pragma once

#include "platform/Ports.h"

namespace kdu::win32 {

// The Windows Script Host shell object ("WScript.Shell"), reached late bound through
// IDispatch. COM is initialised for as long as the object lives. ReadValue takes values under
// HKEY_CURRENT_USER only, the root the program reads.
class WshShell final : public Shell {
public:
    std::unique_ptr<ShellObject> CreateShellObject() override;
    RegistryValue ReadValue(const std::wstring& valuePath) override;
};

}  // namespace kdu::win32
