#include <gtest/gtest.h>

#include "platform/win32/SystemErrors.h"

namespace kdu::win32 {
namespace {

TEST(SystemErrors, DescriptionsComeFromTheSystemWithoutLineBreaks) {
    const auto message = SystemMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(message.empty());
    EXPECT_NE(message.back(), L'\n');
    EXPECT_NE(message.back(), L'\r');
}

TEST(SystemErrors, HResultsKeepTheirNumberAndAreDescribedWhereShown) {
    const auto error = ErrorFromHResult(E_ACCESSDENIED, L"x");
    EXPECT_EQ(error.Code(), 0x80070005u);
    EXPECT_TRUE(error.Description().empty());
    EXPECT_EQ(Described(error).Description(), SystemMessage(0x80070005u));
    EXPECT_EQ(Described(error).Path(), L"x");
}

TEST(SystemErrors, LastErrorIsTheThreadsLastError) {
    ::SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(LastError().Code(), static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
}

}  // namespace
}  // namespace kdu::win32
