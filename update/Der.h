#pragma once

// A small DER reader: just enough of X.509 and the private key formats for the pair checks. It
// trusts nothing it reads: every length is checked against what remains, and anything it does
// not take (a tag of more than one byte, an indefinite or over-long length) is a failure.

#include <cstdint>
#include <optional>
#include <span>

namespace kdu::der {

using Bytes = std::span<const std::uint8_t>;

inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kObjectIdentifier = 0x06;
inline constexpr std::uint8_t kUtcTime = 0x17;
inline constexpr std::uint8_t kGeneralizedTime = 0x18;
inline constexpr std::uint8_t kSequence = 0x30;
// Context-specific, constructed: [0], [1], ...
constexpr std::uint8_t Explicit(int number) { return static_cast<std::uint8_t>(0xA0 + number); }

struct Element {
    std::uint8_t tag = 0;
    Bytes content;
};

// Reads the element at the front of input and takes it off; nothing (input unchanged) if there
// is none that this reader takes.
std::optional<Element> Read(Bytes& input);

// Reads the next element if it has the tag; nothing otherwise (input unchanged).
std::optional<Element> ReadIf(Bytes& input, std::uint8_t tag);

// A BIT STRING's bits, which must fill whole bytes; nothing otherwise.
std::optional<Bytes> WholeBytes(const Element& bitString);

// An INTEGER's magnitude without the leading zero bytes of its encoding, for comparisons.
Bytes Magnitude(Bytes integer);

// A UTCTime (years 1950 to 2049) or GeneralizedTime in its DER form, "YYMMDDHHMMSSZ" or
// "YYYYMMDDHHMMSSZ", as seconds since 1970-01-01 UTC; nothing if it is neither.
std::optional<std::int64_t> Time(const Element& time);

}  // namespace kdu::der
