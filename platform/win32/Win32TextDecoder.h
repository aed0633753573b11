#pragma once

#include "platform/Ports.h"

namespace kdu::win32 {

// Big5 (code page 950, whatever the system's ANSI code page) and UTF-8, through the system.
class Win32TextDecoder final : public TextDecoder {
public:
    std::wstring Decode(std::string_view bytes, Encoding encoding) override;
};

}  // namespace kdu::win32
