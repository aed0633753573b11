#include "data/MessageFile.h"

namespace kdu {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

// UTF-16LE bytes as wide text; an odd last byte is dropped.
std::wstring Utf16LeText(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto low = static_cast<unsigned char>(bytes[i]);
        const auto high = static_cast<unsigned char>(bytes[i + 1]);
        text.push_back(static_cast<wchar_t>(low | (high << 8)));
    }
    return text;
}

std::vector<std::wstring> DecodeEachLine(std::string_view content, Encoding encoding,
                                         TextDecoder& decoder) {
    std::vector<std::wstring> lines;
    // Big5 and UTF-8 never use the byte of CR inside a character, so the bytes can be split
    // before each line is decoded.
    for (const auto line : SplitLines(content)) lines.push_back(decoder.Decode(line, encoding));
    return lines;
}

}  // namespace

std::vector<std::wstring> DecodeMessageLines(std::string_view content, TextDecoder& decoder) {
    if (content.starts_with(kUtf16LeMark)) {
        const auto text = Utf16LeText(content.substr(kUtf16LeMark.size()));
        const auto views = SplitLines(std::wstring_view{text});
        return {views.begin(), views.end()};
    }
    if (content.starts_with(kUtf8Mark)) {
        return DecodeEachLine(content.substr(kUtf8Mark.size()), Encoding::Utf8, decoder);
    }
    return DecodeEachLine(content, Encoding::Big5, decoder);
}

}  // namespace kdu
