#pragma once

#include "platform/Ports.h"

namespace kdu::win32 {

// Waits, answering the messages sent to the thread's windows and painting them, and taking no
// input: the window stays responsive and painted, and nothing the user does starts anything.
class Win32Pause final : public Pause {
public:
    void Sleep(unsigned milliseconds) override;
};

}  // namespace kdu::win32
