#include <gtest/gtest.h>

#include "data/MessageFile.h"
#include "platform/win32/Win32FileSystem.h"
#include "tests/support/Win32TestSupport.h"

namespace kdu::testing {
namespace {

using win32::Win32TextDecoder;

// The tests run as on a Traditional Chinese Windows; without this the rest proves little.
TEST(AnsiCodePage, IsBig5) { EXPECT_EQ(::GetACP(), 950u); }

TEST(AnsiCodePage, Big5BytesDecodeToTheirCharacters) {
    Win32TextDecoder decoder;
    // 開始更新 and 許 (whose second byte is a backslash) in Big5.
    EXPECT_EQ(decoder.Decode("\xB6\x7D\xA9\x6C\xA7\xF3\xB7\x73", Encoding::Ansi),
              L"\u958B\u59CB\u66F4\u65B0");
    EXPECT_EQ(decoder.Decode("\xB3\x5C", Encoding::Ansi), L"\u8A31");
}

TEST(AnsiCodePage, InvalidBytesDecodeWithoutFailing) {
    Win32TextDecoder decoder;
    const auto text = decoder.Decode("a\xFF\x80\xA4", Encoding::Ansi);
    EXPECT_EQ(text.front(), L'a');
    EXPECT_GE(text.size(), 2u);
    EXPECT_EQ(decoder.Decode(std::string_view("\0x", 2), Encoding::Ansi), std::wstring(L"\0x", 2));
}

TEST(AnsiCodePage, Utf8IsDecodedWhenAsked) {
    Win32TextDecoder decoder;
    EXPECT_EQ(decoder.Decode("\xE6\x9B\xB4\xE6\x96\xB0", Encoding::Utf8), L"\u66F4\u65B0");
}

TEST(AnsiCodePage, MessageFileWithBig5LinesRoundTrips) {
    Win32TextDecoder decoder;
    const std::wstring first = Wide("歡迎使用 KestovaDesktop");
    const std::wstring second = Wide("請按「開始更新」");
    const auto lines = DecodeMessageLines(Ansi(first) + "\r\n" + Ansi(second) + "\r\n", decoder);
    EXPECT_EQ(lines, (std::vector<std::wstring>{first, second}));
}

}  // namespace
}  // namespace kdu::testing
