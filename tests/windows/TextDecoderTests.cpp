#include <gtest/gtest.h>

#include <string>

#include "data/MessageFile.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32TextDecoder.h"
#include "tests/support/Win32TestSupport.h"

namespace kdu::testing {
namespace {

using win32::Win32TextDecoder;

// The tests run as on a Traditional Chinese Windows (code page 950), and once more under code
// page 1252 (KDU_EXPECTED_ACP), where a message file must still read as Big5.
TEST(Big5, TheSystemCodePageIsTheOneExpected) {
    const auto expected = Environment(L"KDU_EXPECTED_ACP");
    EXPECT_EQ(::GetACP(), expected.empty() ? 950u : std::stoul(expected));
}

TEST(Big5, BytesDecodeToTheirCharacters) {
    Win32TextDecoder decoder;
    // 開始更新 and 許 (whose second byte is a backslash) in Big5.
    EXPECT_EQ(decoder.Decode("\xB6\x7D\xA9\x6C\xA7\xF3\xB7\x73", Encoding::Big5),
              L"\u958B\u59CB\u66F4\u65B0");
    EXPECT_EQ(decoder.Decode("\xB3\x5C", Encoding::Big5), L"\u8A31");
}

TEST(Big5, InvalidBytesDecodeWithoutFailing) {
    Win32TextDecoder decoder;
    const auto text = decoder.Decode("a\xFF\x80\xA4", Encoding::Big5);
    EXPECT_EQ(text.front(), L'a');
    EXPECT_GE(text.size(), 2u);
    EXPECT_EQ(decoder.Decode(std::string_view("\0x", 2), Encoding::Big5), std::wstring(L"\0x", 2));
}

TEST(Big5, Utf8IsDecodedWhenAsked) {
    Win32TextDecoder decoder;
    EXPECT_EQ(decoder.Decode("\xE6\x9B\xB4\xE6\x96\xB0", Encoding::Utf8), L"\u66F4\u65B0");
}

TEST(Big5, MessageFileWithBig5LinesRoundTrips) {
    Win32TextDecoder decoder;
    const std::wstring first = Wide("歡迎使用 KestovaDesktop");
    const std::wstring second = Wide("請按「開始更新」");
    const auto lines = DecodeMessageLines(Big5(first) + "\r\n" + Big5(second) + "\r\n", decoder);
    EXPECT_EQ(lines, (std::vector<std::wstring>{first, second}));
}

}  // namespace
}  // namespace kdu::testing
