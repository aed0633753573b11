#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "app/Layout.h"
#include "platform/SystemError.h"
#include "platform/win32/Controls.h"
#include "platform/win32/DpiScaling.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Pause.h"

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

// The run's pauses paint what needs painting, and leave input in the queue.
TEST(RealPause, PaintsAndTakesNoInput) {
    const HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                                          nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ::InvalidateRect(window, nullptr, TRUE);
    ::PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    Win32Pause{}.Sleep(50);
    EXPECT_FALSE(::GetUpdateRect(window, nullptr, FALSE)) << "painted";
    MSG message{};
    EXPECT_TRUE(::PeekMessageW(&message, window, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE)) << "untouched";
    ::DestroyWindow(window);
}

// A disabled button takes no keys: the focus it had goes to its heir first.
TEST(RealButton, DisableDisablesAndHandsTheFocusOn) {
    const HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                                          nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    const HWND heir = ::CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50,
                                        parent, nullptr, nullptr, nullptr);
    const HWND button = ::CreateWindowExW(0, L"BUTTON", L"x", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                                          60, 0, 30, 20, parent, nullptr, nullptr, nullptr);
    ::SetFocus(button);
    ASSERT_EQ(::GetFocus(), button);
    ButtonControl{button, heir}.Disable();
    EXPECT_FALSE(::IsWindowEnabled(button));
    EXPECT_EQ(::GetFocus(), heir);
    ::DestroyWindow(parent);
}

// The functions of Windows 8.1: GetDpiForMonitor alone.
DpiFunctions Windows81Functions() {
    DpiFunctions all = FindDpiFunctions();
    DpiFunctions functions;
    functions.getDpiForMonitor = all.getDpiForMonitor;
    functions.shcore = std::move(all.shcore);
    return functions;
}

// Windows 10's per-monitor functions, those of 8.1, and Windows 7 with none of them give the same
// window at the session's DPI: a client area of exactly the layout's pixels, and the same message
// font. CTest runs this at 96 DPI and again at 144 (KDU_WINE_DPI): Wine, like Windows before 10,
// draws the frame at the DPI a program starts with.
TEST(DpiScaling, SameWindowWithAndWithoutTheNewerFunctions) {
    constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    const UniqueScreenDc screen{::GetDC(nullptr)};
    const UINT dpi = static_cast<UINT>(::GetDeviceCaps(screen.get(), LOGPIXELSY));
    const auto client = layout::ToPixels(layout::kClientArea, static_cast<int>(dpi));
    ASSERT_NE(Windows81Functions().getDpiForMonitor, nullptr) << "the 8.1 case would be 7's";
    std::vector<LONG> fontHeights;
    for (const int windows : {10, 81, 7}) {
        const DpiScaling scaling{windows == 10   ? FindDpiFunctions()
                                 : windows == 81 ? Windows81Functions()
                                                 : DpiFunctions{}};
        HWND window = ::CreateWindowExW(0, L"STATIC", L"", kStyle, 0, 0, 10, 10, nullptr, nullptr,
                                        nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(scaling.WindowDpi(window), dpi) << windows;
        const SIZE size = scaling.WindowSize({client.width, client.height}, kStyle, 0, dpi);
        ::SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        RECT area{};
        ::GetClientRect(window, &area);
        EXPECT_EQ(area.right, client.width) << windows << " at " << dpi;
        EXPECT_EQ(area.bottom, client.height) << windows << " at " << dpi;
        ::DestroyWindow(window);

        const UniqueFont font = scaling.MessageFont(dpi);
        LOGFONTW logFont{};
        ASSERT_TRUE(::GetObjectW(font.get(), sizeof(logFont), &logFont)) << windows;
        fontHeights.push_back(logFont.lfHeight);
    }
    EXPECT_EQ(fontHeights[0], fontHeights[1]) << "at " << dpi;
    EXPECT_EQ(fontHeights[0], fontHeights[2]) << "at " << dpi;
}

}  // namespace
}  // namespace kdu::win32
