// libFuzzer target: turning what RegRead returned into the install folder's text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "data/InstallFolder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t kind = data[0] % 4;
    ++data;
    --size;

    std::uint64_t bits = 0;
    std::memcpy(&bits, data, size < sizeof(bits) ? size : sizeof(bits));
    kdu::RegistryValue value;
    switch (kind) {
        case 0: {
            std::wstring text;
            for (std::size_t i = 0; i + 1 < size; i += 2) {
                text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
            }
            value = text;
            break;
        }
        case 1:
            value = static_cast<std::int64_t>(bits);
            break;
        case 2:
            value = bits;
            break;
        default:
            value = kdu::NoTextForm{static_cast<std::uint16_t>(bits)};
            break;
    }

    const auto text = kdu::TextOf(value);
    if (const auto* held = std::get_if<std::wstring>(&value)) {
        if (text != *held) std::abort();  // strings come back unchanged
    } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
        if (!text || std::stoll(*text) != *number) std::abort();
    } else if (const auto* unsignedNumber = std::get_if<std::uint64_t>(&value)) {
        if (!text || std::stoull(*text) != *unsignedNumber) std::abort();
    } else if (text) {
        std::abort();  // no text form, no text
    }
    return 0;
}
