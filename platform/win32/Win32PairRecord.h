#pragma once

#include "platform/Ports.h"

namespace kdu::win32 {

// The record for detection rules: HKEY_CURRENT_USER\kRecordKey, value kRecordValue (REG_SZ).
// HKCU\Software is the same for 32- and 64-bit programs, so a rule needs no registry view.
class Win32PairRecord final : public PairRecord {
public:
    void Record(const std::wstring& version) noexcept override;
    void Forget() noexcept override;
};

}  // namespace kdu::win32
