#pragma once

#include <string>

#include "platform/SystemError.h"

namespace kdu::win32 {

// The failure as the user is shown it: the Windows error number of its kind, and the system's
// description of that number, or this program's own sentence where the system's would not
// explain the problem.
SystemError ForTheUser(const SystemError& error);

// The same, with, for a file in the install folder refused with access denied, how more rights
// may be had (AccessDeniedRemark).
SystemError ForTheUser(const SystemError& error, const std::wstring& installFolder);

}  // namespace kdu::win32
