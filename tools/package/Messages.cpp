#include "tools/package/Messages.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "app/Layout.h"

namespace kdu::package {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr int kHalfWidthPixels = 6;
constexpr int kFullWidthPixels = 12;
constexpr int kClientEdgePixels = 2;  // WS_EX_CLIENTEDGE, on each side
constexpr int kScrollBarPixels = 17;  // SM_CXVSCROLL

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof(text), "%0*X", digits, value);
    return text;
}

// One code point of strict UTF-8 (no overlong forms, no surrogates), or nothing.
std::optional<char32_t> DecodeOne(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    int length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (at + length > text.size()) return std::nullopt;
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return std::nullopt;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return std::nullopt;
    }
    at += length;
    return code;
}

std::string Utf8(char32_t code) {
    std::string text;
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
    return text;
}

// The file's lines as code points. A line ends at LF or CR LF; the last one needs no end.
// A CR anywhere else, or bytes that are not UTF-8, are refused.
std::optional<std::vector<std::u32string>> SplitUtf8Lines(std::string_view text,
                                                          const std::string& fileName,
                                                          Findings& findings) {
    std::vector<std::u32string> lines;
    std::u32string line;
    std::size_t at = 0;
    while (at < text.size()) {
        const int lineNumber = static_cast<int>(lines.size()) + 1;
        const auto code = DecodeOne(text, at);
        if (!code) {
            findings.Error(fileName, lineNumber,
                           "not valid UTF-8: byte 0x" +
                               Hex(static_cast<unsigned char>(text[at]), 2) + " at column " +
                               std::to_string(line.size() + 1) + "; save the file as UTF-8");
            return std::nullopt;
        }
        if (*code == U'\n') {
            lines.push_back(std::move(line));
            line.clear();
        } else if (*code == U'\r' && at < text.size() && text[at] == '\n') {
            continue;  // CR LF: the LF ends the line
        } else if (*code == U'\r') {
            findings.Error(fileName, lineNumber,
                           "holds a carriage return (CR) inside the line at column " +
                               std::to_string(line.size() + 1) +
                               "; the updater would show the text after it as a line of its own");
            return std::nullopt;
        } else {
            line += *code;
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

struct IconvClose {
    void operator()(iconv_t handle) const { iconv_close(handle); }
};
using UniqueIconv = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvClose>;

// bytes converted whole, or nothing.
std::optional<std::string> Convert(iconv_t converter, std::string in) {
    char out[16];
    char* inAt = in.data();
    char* outAt = out;
    std::size_t inLeft = in.size();
    std::size_t outLeft = sizeof(out);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0) {
        return std::nullopt;
    }
    return std::string(out, outAt);
}

std::string Utf32(char32_t code) {
    return {static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF),
            static_cast<char>((code >> 16) & 0xFF), static_cast<char>(code >> 24)};
}

// The two ways of code page 950.
struct Big5Converters {
    UniqueIconv to{iconv_open("CP950", "UTF-32LE")};
    UniqueIconv from{iconv_open("UTF-32LE", "CP950")};
    bool Usable() const {
        const auto failed = reinterpret_cast<iconv_t>(-1);
        return to.get() != failed && from.get() != failed;
    }
};

// One character in code page 950, or nothing if it has none, or none that reads back as the same
// character (iconv drops some silently, such as Unicode's tag characters).
std::optional<std::string> ToBig5(const Big5Converters& big5, char32_t code) {
    auto converted = Convert(big5.to.get(), Utf32(code));
    if (!converted || converted->empty()) return std::nullopt;
    if (Convert(big5.from.get(), *converted) != Utf32(code)) return std::nullopt;
    return converted;
}

// C0 (the tab too: List1 has no tab stops), DEL and C1: shown as boxes, or cutting the line.
bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

std::string RoleOf(int line) {
    if (line <= 3) return "introduction";
    if (line <= 5) return "closing";
    return "failure";
}

}  // namespace

int EstimatedWidthAt96Dpi(std::u32string_view line) {
    int width = 0;
    for (const char32_t code : line) width += code < 0x80 ? kHalfWidthPixels : kFullWidthPixels;
    return width;
}

int List1TextWidthAt96Dpi() {
    return layout::ToPixels(layout::kList1.width, 96) - 2 * kClientEdgePixels - kScrollBarPixels;
}

std::string ConvertMessages(std::string_view utf8, const std::string& fileName,
                            Findings& findings) {
    if (utf8.starts_with(kByteOrderMark)) utf8.remove_prefix(kByteOrderMark.size());
    const auto lines = SplitUtf8Lines(utf8, fileName, findings);
    if (!lines) return {};
    if (lines->size() < std::size_t{kMessageLines}) {
        findings.Error(fileName, 0,
                       "has " + std::to_string(lines->size()) +
                           " lines; the updater needs six: lines 1-3 the introduction, 4 and 5 "
                           "the closing lines, 6 the failure line");
    } else if (lines->size() > std::size_t{kMessageLines}) {
        findings.Warning(fileName, kMessageLines + 1,
                         "lines after line 6 are packaged but never shown");
    }

    const Big5Converters converters;
    if (!converters.Usable()) {
        findings.Error(fileName, 0, "this system cannot convert to code page 950 (iconv)");
        return {};
    }
    std::string big5;
    for (std::size_t index = 0; index < lines->size(); ++index) {
        const int lineNumber = static_cast<int>(index) + 1;
        const auto& line = (*lines)[index];
        const auto lineStart = big5.size();
        if (lineNumber <= kMessageLines && line.empty()) {
            findings.Warning(
                fileName, lineNumber,
                "the " + RoleOf(lineNumber) +
                    " line is empty: the window shows an empty row there" +
                    (lineNumber == kMessageLines ? " (nothing at all when an update fails)" : ""));
        }
        for (std::size_t column = 0; column < line.size(); ++column) {
            if (IsControl(line[column])) {
                findings.Error(fileName, lineNumber,
                               "control character U+" + Hex(line[column], 4) + " at column " +
                                   std::to_string(column + 1) +
                                   ": the window shows it as a box, or cuts the line there");
                continue;
            }
            const auto converted = ToBig5(converters, line[column]);
            if (!converted) {
                findings.Error(fileName, lineNumber,
                               "character '" + Utf8(line[column]) + "' (U+" + Hex(line[column], 4) +
                                   ") at column " + std::to_string(column + 1) +
                                   " cannot be written in Big5 (code page 950)");
                continue;
            }
            big5 += *converted;
        }
        // The updater reads a file that starts with these bytes as UTF-8.
        if (index == 0 && std::string_view{big5}.substr(lineStart).starts_with(kByteOrderMark)) {
            findings.Error(fileName, lineNumber,
                           "its Big5 bytes begin with EF BB BF, the UTF-8 byte-order mark: the "
                           "updater would read the whole file as UTF-8; start the line with "
                           "another character");
        }
        big5 += "\r\n";
        const int width = EstimatedWidthAt96Dpi(line);
        if (lineNumber <= kMessageLines && width > List1TextWidthAt96Dpi()) {
            findings.Warning(fileName, lineNumber,
                             "the " + RoleOf(lineNumber) + " line is about " +
                                 std::to_string(width) + " px wide, List1 shows " +
                                 std::to_string(List1TextWidthAt96Dpi()) +
                                 " px at 96 DPI: the end will be cut off (estimated from "
                                 "the character count: 6 px half-width, 12 px full-width)");
        }
    }
    return findings.Refused() ? std::string{} : big5;
}

}  // namespace kdu::package
