#include "update/Der.h"

#include <algorithm>

namespace kdu::der {
namespace {

// The days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// The number in digits [at, at + count) of text; nothing if one is not a digit.
std::optional<unsigned> Digits(Bytes text, std::size_t at, std::size_t count) {
    unsigned value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<Element> Read(Bytes& input) {
    // A one-byte tag (not the high-tag-number form) and at least a length byte.
    if (input.size() < 2 || (input[0] & 0x1F) == 0x1F) return std::nullopt;
    const std::uint8_t tag = input[0];
    std::size_t length = input[1];
    std::size_t header = 2;
    if (length & 0x80) {
        // The long form, in at most four bytes; 0x80 alone would be BER's indefinite length.
        const std::size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || input.size() < 2 + bytes) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i) length = length << 8 | input[2 + i];
        header += bytes;
    }
    if (length > input.size() - header) return std::nullopt;
    Element element{tag, input.subspan(header, length)};
    input = input.subspan(header + length);
    return element;
}

std::optional<Element> ReadIf(Bytes& input, std::uint8_t tag) {
    Bytes rest = input;
    const auto element = Read(rest);
    if (!element || element->tag != tag) return std::nullopt;
    input = rest;
    return element;
}

std::optional<Bytes> WholeBytes(const Element& bitString) {
    if (bitString.tag != kBitString || bitString.content.empty() || bitString.content[0] != 0) {
        return std::nullopt;
    }
    return bitString.content.subspan(1);
}

Bytes Magnitude(Bytes integer) {
    const auto first = std::find_if(integer.begin(), integer.end(), [](auto b) { return b != 0; });
    return integer.subspan(static_cast<std::size_t>(first - integer.begin()));
}

std::optional<std::int64_t> Time(const Element& time) {
    const Bytes text = time.content;
    std::size_t at = 0;
    std::int64_t year = 0;
    if (time.tag == kUtcTime && text.size() == 13) {
        const auto yy = Digits(text, 0, 2);
        if (!yy) return std::nullopt;
        year = *yy < 50 ? 2000 + *yy : 1900 + *yy;  // RFC 5280
        at = 2;
    } else if (time.tag == kGeneralizedTime && text.size() == 15) {
        const auto yyyy = Digits(text, 0, 4);
        if (!yyyy) return std::nullopt;
        year = *yyyy;
        at = 4;
    } else {
        return std::nullopt;
    }
    const auto month = Digits(text, at, 2);
    const auto day = Digits(text, at + 2, 2);
    const auto hour = Digits(text, at + 4, 2);
    const auto minute = Digits(text, at + 6, 2);
    const auto second = Digits(text, at + 8, 2);
    if (!month || !day || !hour || !minute || !second || text[at + 10] != 'Z') return std::nullopt;
    if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 ||
        *second > 60) {
        return std::nullopt;
    }
    const std::int64_t seconds = std::int64_t{*hour} * 3600 + std::int64_t{*minute} * 60 + *second;
    return DaysFromCivil(year, *month, *day) * 86400 + seconds;
}

}  // namespace kdu::der
