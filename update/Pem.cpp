#include "update/Pem.h"

#include <optional>

namespace kdu {
namespace {

std::string_view TrimEnd(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    return line;
}

// The label of a "-----BEGIN label-----" or "-----END label-----" line; nothing otherwise.
std::optional<std::string_view> Boundary(std::string_view line, std::string_view word) {
    constexpr std::string_view kDashes = "-----";
    if (!line.starts_with(kDashes) || !line.ends_with(kDashes)) return std::nullopt;
    line = line.substr(kDashes.size(), line.size() - 2 * kDashes.size());
    if (!line.starts_with(word) || line.size() <= word.size()) return std::nullopt;
    return line.substr(word.size());
}

}  // namespace

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

PemText ReadPem(std::string_view text) {
    PemText pem;
    PemBlock* open = nullptr;
    ForEachLine(text, [&](std::string_view rawLine) {
        const auto line = TrimEnd(rawLine);
        if (!open) {
            if (const auto label = Boundary(line, "BEGIN ")) {
                open = &pem.blocks.emplace_back(PemBlock{*label, {}, false});
            } else if (Boundary(line, "END ")) {
                pem.strayEnd = true;
            }
        } else if (const auto label = Boundary(line, "END ")) {
            open->ended = *label == open->label;
            pem.strayEnd = pem.strayEnd || !open->ended;
            open = nullptr;
        } else {
            open->lines.push_back(line);
        }
        return true;
    });
    return pem;
}

std::optional<std::vector<std::uint8_t>> DecodedBody(const PemBlock& block) {
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0;
    int count = 0;
    for (const auto line : block.lines) {
        if (line.find(':') != std::string_view::npos) continue;  // an RFC 1421 header
        for (const char c : line) {
            if (c == '=' || c == '\r' || c == ' ' || c == '\t') continue;
            const int value = Base64Value(c);
            if (value < 0) return std::nullopt;
            bits = bits << 6 | static_cast<std::uint32_t>(value);
            if (++count == 4) {
                bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
                bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
                bytes.push_back(static_cast<std::uint8_t>(bits));
                bits = 0;
                count = 0;
            }
        }
    }
    if (count == 2) bytes.push_back(static_cast<std::uint8_t>(bits >> 4));
    if (count == 3) {
        bytes.push_back(static_cast<std::uint8_t>(bits >> 10));
        bytes.push_back(static_cast<std::uint8_t>(bits >> 2));
    }
    return bytes;
}

}  // namespace kdu
