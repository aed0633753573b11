#pragma once

// The blocks of a PEM text ("-----BEGIN label-----", its body, "-----END label-----"), read line
// by line, for the package check and the pair check alike.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kdu {

struct PemBlock {
    std::string_view label;
    // The lines between the BEGIN and END lines, without their line ends (LF or CR LF) and
    // trailing spaces and tabs.
    std::vector<std::string_view> lines;
    bool ended = false;  // closed by an END line of its own label
};

struct PemText {
    std::vector<PemBlock> blocks;  // in order; the text between blocks is skipped
    bool strayEnd = false;         // an END line outside a block, or of another label than its own
};

PemText ReadPem(std::string_view text);

// The text of each line, without its LF or CR LF end.
template <typename Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!visit(line)) return;
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

// The value of a base64 character, 0 to 63; -1 for any other character.
int Base64Value(char c);

// The bytes a block's base64 body holds: header lines ("Name: value") are skipped, and so are
// padding, carriage returns, spaces and tabs; nothing if another character is in it.
std::optional<std::vector<std::uint8_t>> DecodedBody(const PemBlock& block);

}  // namespace kdu
