#pragma once

#include <windows.h>

#include "platform/Ports.h"

namespace kdu::win32 {

class Win32RunningProgram final : public RunningProgram {
public:
    std::wstring Path() override;
    std::optional<Bytes> DigestSlot() override;
};

}  // namespace kdu::win32
