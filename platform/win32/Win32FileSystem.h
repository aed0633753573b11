#pragma once

#include "platform/Ports.h"

namespace kdu::win32 {

class Win32FileSystem final : public FileSystem {
public:
    std::wstring ExecutablePath() override;
    Bytes ReadAll(const std::wstring& path) override;
};

class Win32TextDecoder final : public TextDecoder {
public:
    std::wstring Decode(std::string_view bytes, Encoding encoding) override;
};

}  // namespace kdu::win32
