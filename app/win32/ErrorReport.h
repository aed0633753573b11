#pragma once

#include "platform/SystemError.h"

namespace kdu::win32 {

// The failure as the user is shown it: the Windows error number of its kind, and the system's
// description of that number, or this program's own sentence where the system's would not
// explain the problem.
SystemError ForTheUser(const SystemError& error);

}  // namespace kdu::win32
