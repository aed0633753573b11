#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kdu {

// A failure reported by the operating system: its error number (a Win32 error code or an
// HRESULT), the system's own description of it, and the file it concerns, if any; and what
// this program has to add for the user (what state the failure left, what to do about it).
class SystemError : public std::runtime_error {
public:
    SystemError(std::uint32_t code, std::wstring description, std::wstring path = {},
                std::wstring remark = {})
        : std::runtime_error("system error " + std::to_string(code)),
          code_(code),
          description_(std::move(description)),
          path_(std::move(path)),
          remark_(std::move(remark)) {}

    std::uint32_t Code() const noexcept { return code_; }
    const std::wstring& Description() const noexcept { return description_; }
    const std::wstring& Path() const noexcept { return path_; }
    const std::wstring& Remark() const noexcept { return remark_; }

private:
    std::uint32_t code_;
    std::wstring description_;
    std::wstring path_;
    std::wstring remark_;
};

}  // namespace kdu
