// libFuzzer target: the message file's decoding and line splitting, with a double-byte code page
// that behaves like Big5 (a lead byte 0x81-0xFE takes the next byte with it).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "data/MessageFile.h"

namespace {

class DoubleByteDecoder final : public kdu::TextDecoder {
public:
    std::wstring Decode(std::string_view bytes, kdu::Encoding encoding) override {
        std::wstring text;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            const bool lead = encoding == kdu::Encoding::Big5 && byte >= 0x81 && byte <= 0xFE;
            if (lead && i + 1 < bytes.size()) {
                const auto trail = static_cast<unsigned char>(bytes[++i]);
                text.push_back(static_cast<wchar_t>(0x4E00 + ((byte << 8 | trail) & 0x3FFF)));
            } else {
                text.push_back(byte < 0x80 ? static_cast<wchar_t>(byte) : L'\uFFFD');
            }
        }
        return text;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    DoubleByteDecoder decoder;
    const auto lines = kdu::DecodeMessageLines(content, decoder);

    std::size_t characters = 0;
    for (const auto& line : lines) {
        // A CR always ends a line, so none can be inside one; no line grows beyond its bytes.
        if (line.find(L'\r') != std::wstring::npos) std::abort();
        characters += line.size();
    }
    if (characters > size) std::abort();
    if (lines.size() > size) std::abort();
    return 0;
}
