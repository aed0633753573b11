#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Ports.h"

namespace kdu {

inline constexpr std::wstring_view kMessageFileName = L"data3.bin";

// The lines of a message file. A line ends at CR LF or at a CR alone; an LF alone belongs to
// the line. A terminator at the very end adds no empty line. The text is in the ANSI code page,
// unless it starts with a UTF-8 or UTF-16LE byte-order mark.
std::vector<std::wstring> DecodeMessageLines(std::string_view content, TextDecoder& decoder);

// The split alone, for text already in memory.
template <typename Char>
std::vector<std::basic_string_view<Char>> SplitLines(std::basic_string_view<Char> text) {
    constexpr Char cr = '\r';
    constexpr Char lf = '\n';
    std::vector<std::basic_string_view<Char>> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find(cr, start);
        if (end == std::basic_string_view<Char>::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (start < text.size() && text[start] == lf) ++start;
    }
    return lines;
}

}  // namespace kdu
