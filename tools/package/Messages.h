#pragma once

#include <string>
#include <string_view>

#include "tools/package/Findings.h"

namespace kdu::package {

// The six lines the updater shows, by role, 1-based.
inline constexpr int kMessageLines = 6;

// The messages file, UTF-8 (a byte-order mark is allowed), one message per line, converted to
// what the updater reads: code page 950 (Big5) with CR LF after each line. Returns the empty
// string and records errors in findings when the file cannot be converted faithfully.
std::string ConvertMessages(std::string_view utf8, const std::string& fileName, Findings& findings);

// How many pixels of List1 a line needs at 96 DPI in the system's 9 pt message font, estimated
// from its characters: 6 for a half-width one, 12 for a full-width one.
int EstimatedWidthAt96Dpi(std::u32string_view line);
// The width List1 gives a line at 96 DPI: the list box less its borders and scroll bar.
int List1TextWidthAt96Dpi();

}  // namespace kdu::package
