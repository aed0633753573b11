#include "data/MessageFile.h"

#include <gtest/gtest.h>

#include "tests/unit/Fakes.h"

namespace kdu::testing {
namespace {

using Lines = std::vector<std::wstring>;

Lines Decode(std::string_view content) {
    FakeDecoder decoder;
    return DecodeMessageLines(content, decoder);
}

TEST(MessageLines, FinalTerminatorAddsNoEmptyLine) {
    const Lines six{L"1", L"2", L"3", L"4", L"5", L"6"};
    EXPECT_EQ(Decode("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n"), six);
    EXPECT_EQ(Decode("1\r\n2\r\n3\r\n4\r\n5\r\n6"), six);
    EXPECT_EQ(Decode("1\r\n2\r\n3\r\n4\r\n5\r\n6\r"), six);
}

TEST(MessageLines, CrAloneEndsALineAndLfAloneBelongsToIt) {
    EXPECT_EQ(Decode("a\rb\r\nc"), (Lines{L"a", L"b", L"c"}));
    EXPECT_EQ(Decode("a\nb\r\nc\n"), (Lines{L"a\nb", L"c\n"}));
    EXPECT_EQ(Decode("\n\r\n"), (Lines{L"\n"}));
    EXPECT_EQ(Decode("a\r\r\nb"), (Lines{L"a", L"", L"b"}));
    EXPECT_EQ(Decode("a\n\rb"), (Lines{L"a\n", L"b"}));
}

TEST(MessageLines, EmptyAndBlankLinesAreEntries) {
    EXPECT_EQ(Decode("a\r\n\r\n   \r\n\tb"), (Lines{L"a", L"", L"   ", L"\tb"}));
    EXPECT_EQ(Decode("\r\n"), (Lines{L""}));
    EXPECT_EQ(Decode("\r\n\r\n"), (Lines{L"", L""}));
    EXPECT_EQ(Decode(""), Lines{});
}

TEST(MessageLines, OnlyTheFirst10000LinesAreRead) {
    const auto lines = Decode(std::string(kMessageLineLimit + 5, '\r'));
    EXPECT_EQ(lines.size(), kMessageLineLimit);
}

TEST(MessageLines, NulBytesDoNotEndTheFile) {
    EXPECT_EQ(Decode(std::string_view("a\0b\r\nc", 6)), (Lines{std::wstring(L"a\0b", 3), L"c"}));
}

TEST(MessageLines, EachLineIsDecodedFromBig5) {
    FakeDecoder decoder;
    // 許 in Big5 is A5 5C: its trail byte is a backslash, which must not disturb anything.
    const auto lines = DecodeMessageLines("\xA5\x5C\r\nx", decoder);
    EXPECT_EQ(lines, (Lines{L"\u00A5\\", L"x"}));
    EXPECT_EQ(decoder.encodings, (std::vector<Encoding>{Encoding::Big5, Encoding::Big5}));
}

TEST(MessageLines, Utf8ByteOrderMarkSelectsUtf8AndIsDropped) {
    FakeDecoder decoder;
    const auto lines = DecodeMessageLines(
        "\xEF\xBB\xBF"
        "a\r\nb",
        decoder);
    EXPECT_EQ(lines, (Lines{L"a", L"b"}));
    EXPECT_EQ(decoder.encodings, (std::vector<Encoding>{Encoding::Utf8, Encoding::Utf8}));
}

TEST(MessageLines, Utf16LittleEndianIsDecodedWithoutTheDecoder) {
    FakeDecoder decoder;
    // FF FE, then 更 (U+66F4) CR LF, "a" CR, and a stray odd byte.
    const std::string content("\xFF\xFE\xF4\x66\x0D\x00\x0A\x00\x61\x00\x0D\x00\x41", 13);
    EXPECT_EQ(DecodeMessageLines(content, decoder), (Lines{L"\u66F4", L"a"}));
    EXPECT_TRUE(decoder.encodings.empty());
}

TEST(MessageLines, Utf16LfAloneStaysInTheLine) {
    FakeDecoder decoder;
    const std::string content(
        "\xFF\xFE"
        "a\0\n\0b\0",
        8);
    EXPECT_EQ(DecodeMessageLines(content, decoder), (Lines{L"a\nb"}));
}

}  // namespace
}  // namespace kdu::testing
