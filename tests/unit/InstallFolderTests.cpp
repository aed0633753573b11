#include "data/InstallFolder.h"

#include <gtest/gtest.h>

#include <limits>

namespace kdu {
namespace {

TEST(InstallFolderText, StringsAreTakenUnchanged) {
    for (const std::wstring text : {L"", L"  ", L"C:\\Kestova\\", L"D:\\\u5B89\u88DD"}) {
        EXPECT_EQ(TextOf(text), text);
    }
}

TEST(InstallFolderText, NumbersBecomeDecimalText) {
    EXPECT_EQ(TextOf(std::int64_t{0}), L"0");
    EXPECT_EQ(TextOf(std::int64_t{-1}), L"-1");
    EXPECT_EQ(TextOf(std::int64_t{std::numeric_limits<std::int64_t>::min()}),
              L"-9223372036854775808");
    EXPECT_EQ(TextOf(std::uint64_t{std::numeric_limits<std::uint64_t>::max()}),
              L"18446744073709551615");
}

TEST(InstallFolderText, ValuesWithoutTextFormHaveNone) {
    EXPECT_EQ(TextOf(NoTextForm{0x200C}), std::nullopt);
    EXPECT_EQ(TextOf(NoTextForm{}), std::nullopt);
}

}  // namespace
}  // namespace kdu
