#pragma once

#include "platform/Ports.h"
#include "platform/win32/UniqueHandle.h"

namespace kdu::win32 {

// A mutex named in the user's session ("Local\"): the copies of the program one user starts
// share it. Other users' sessions have their own, as they have their own install folders.
class NamedMutexRunLock final : public RunLock {
public:
    void Acquire() override;
    void Release() noexcept override;

private:
    UniqueKernelObject mutex_;
};

}  // namespace kdu::win32
