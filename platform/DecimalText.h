#pragma once

#include <charconv>
#include <concepts>
#include <iterator>
#include <string>

namespace kdu {

// An integer in decimal digits. std::to_wstring would do, but it formats through swprintf,
// which brings MinGW's whole printf into the exe.
template <std::integral Integer>
std::wstring DecimalText(Integer value) {
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    return std::wstring(std::begin(digits), end);
}

}  // namespace kdu
