#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Ports.h"

namespace kdu {

inline constexpr std::wstring_view kMessageFileName = L"data3.bin";
// The window shows six lines; a file of millions (of lone CRs, say) must not hold up start-up.
inline constexpr std::size_t kMessageLineLimit = 10000;

// The first kMessageLineLimit lines of a message file. A line ends at CR LF or at a CR alone; an
// LF alone belongs to the line. A terminator at the very end adds no empty line. The text is in
// Big5 (the package builder writes it so, and the window is Traditional Chinese), whatever the
// system's ANSI code page, unless it starts with a UTF-8 or UTF-16LE byte-order mark.
std::vector<std::wstring> DecodeMessageLines(std::string_view content, TextDecoder& decoder);

// The split alone, for text already in memory; at most maxLines lines.
template <typename Char>
std::vector<std::basic_string_view<Char>> SplitLines(std::basic_string_view<Char> text,
                                                     std::size_t maxLines = kMessageLineLimit) {
    constexpr Char cr = '\r';
    constexpr Char lf = '\n';
    std::vector<std::basic_string_view<Char>> lines;
    std::size_t start = 0;
    while (start < text.size() && lines.size() < maxLines) {
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
