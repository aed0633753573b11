#include <gtest/gtest.h>

#include "platform/SystemError.h"
#include "platform/win32/Controls.h"

namespace kdu::win32 {
namespace {

class RealListBox : public ::testing::Test {
protected:
    void SetUp() override {
        hwnd_ = ::CreateWindowExW(0, L"LISTBOX", L"", WS_POPUP | LBS_NOINTEGRALHEIGHT, 0, 0, 100,
                                  100, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd_, nullptr);
        list_ = ListBoxControl{hwnd_};
    }
    void TearDown() override { ::DestroyWindow(hwnd_); }

    HWND hwnd_ = nullptr;
    ListBoxControl list_;
};

TEST_F(RealListBox, AppendsInOrderWithoutSorting) {
    list_.Append(L"b");
    list_.Append(L"a");
    list_.Append(L"");
    ASSERT_EQ(list_.Count(), 3);
    EXPECT_EQ(list_.Text(0), L"b");
    EXPECT_EQ(list_.Text(1), L"a");
    EXPECT_EQ(list_.Text(2), L"");
}

TEST_F(RealListBox, ReplaceRewritesOneRowInPlace) {
    for (const wchar_t* text : {L"1", L"2", L"3", L"4"}) list_.Append(text);
    list_.Replace(3, L"\u66F4\u65B0\u4E2D... ...");
    EXPECT_EQ(list_.Count(), 4);
    EXPECT_EQ(list_.Text(3), L"\u66F4\u65B0\u4E2D... ...");
    EXPECT_EQ(list_.Text(2), L"3");
}

TEST_F(RealListBox, MissingRowsAreErrorsNotCrashes) {
    EXPECT_THROW(list_.Text(0), SystemError);
    EXPECT_THROW(list_.Replace(5, L"x"), SystemError);
}

TEST(RealButton, DisableDisables) {
    HWND button = ::CreateWindowExW(0, L"BUTTON", L"x", WS_POPUP | BS_PUSHBUTTON, 0, 0, 10, 10,
                                    nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(button, nullptr);
    ButtonControl{button}.Disable();
    EXPECT_FALSE(::IsWindowEnabled(button));
    ::DestroyWindow(button);
}

}  // namespace
}  // namespace kdu::win32
