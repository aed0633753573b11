#pragma once

#include "platform/Ports.h"

namespace kdu::win32 {

// The system clock, in UTC.
class Win32Clock final : public Clock {
public:
    std::int64_t UtcSeconds() override;
};

}  // namespace kdu::win32
