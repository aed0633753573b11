#pragma once

#include "platform/Ports.h"

namespace kdu::win32 {

// /restore without /quiet: the question, the swap, and a box that says how it went; no main
// window. The exit code: 0 when the previous pair is back, 1223 for 否, else the error's number.
int RestoreWithBoxes(const Services& services);

}  // namespace kdu::win32
