#include <gtest/gtest.h>

#include <vector>

#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"

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

// Handles that record their closing.
std::vector<int> closedHandles;
struct RecordedTraits {
    using Type = int;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type handle) noexcept { closedHandles.push_back(handle); }
};

TEST(UniqueHandle, PutClosesTheHandleHeldAndOwnsTheOneWrittenThere) {
    closedHandles.clear();
    {
        UniqueHandle<RecordedTraits> handle{1};
        *handle.put() = 2;  // as a function's out-parameter
        EXPECT_EQ(closedHandles, std::vector{1});
        EXPECT_EQ(handle.get(), 2);
    }
    EXPECT_EQ(closedHandles, (std::vector{1, 2}));
}

}  // namespace
}  // namespace kdu::win32
