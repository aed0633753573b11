// The window's layout, styles, tab order and version information, read from the running
// program.

#include <gtest/gtest.h>

#include "app/Layout.h"
#include "app/Texts.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "tests/e2e/UpdaterDriver.h"

namespace kdu::testing {
namespace {

const std::wstring kDesktopKey = L"Control Panel\\Desktop";

void ExpectRect(const RECT& actual, layout::Rect twips, int dpi, const char* name) {
    const auto expected = layout::ToPixels(twips, dpi);
    EXPECT_EQ(actual.left, expected.left) << name << " at " << dpi;
    EXPECT_EQ(actual.top, expected.top) << name << " at " << dpi;
    EXPECT_EQ(actual.right - actual.left, expected.width) << name << " at " << dpi;
    EXPECT_EQ(actual.bottom - actual.top, expected.height) << name << " at " << dpi;
}

void ExpectLayout(const UpdaterWindow& window, int dpi) {
    ASSERT_TRUE(window.Found());
    const RECT client = window.ClientRect();
    const auto area = layout::ToPixels(layout::kClientArea, dpi);
    EXPECT_EQ(client.right, area.width) << dpi;
    EXPECT_EQ(client.bottom, area.height) << dpi;
    ExpectRect(window.ControlRect(IDC_LIST1), layout::kList1, dpi, "List1");
    ExpectRect(window.ControlRect(IDC_COMMAND1), layout::kCommand1, dpi, "Command1");
    ExpectRect(window.ControlRect(IDC_LIST2), layout::kList2, dpi, "List2");
    ExpectRect(window.ControlRect(IDC_IMAGE1), layout::kImage1, dpi, "Image1");
    ExpectRect(window.ControlRect(IDC_LABEL1), layout::kLabel1, dpi, "Label1");
    EXPECT_GE(window.ControlRect(IDC_LIST2).left, client.right) << "List2 is never seen";
}

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        SetStringValue(kProductKey, kInstallPathName, L"C:\\KestovaDesktop");
        app.WriteMessages("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n");
    }
    void TearDown() override {
        DeleteValue(kProductKey, kInstallPathName);
        SetDwordValue(kDesktopKey, L"LogPixels", 96);
    }
    Deployment app;
};

TEST_F(Window, LayoutAt96Dpi) {
    UpdaterWindow window{app.Executable()};
    ExpectLayout(window, 96);
}

TEST_F(Window, LayoutAt144Dpi) {
    SetDwordValue(kDesktopKey, L"LogPixels", 144);
    UpdaterWindow window{app.Executable()};
    ExpectLayout(window, 144);
    window.SaveScreenshot(L"ready-144dpi");
}

TEST_F(Window, FixedBorderWithMinimiseOnly) {
    UpdaterWindow window{app.Executable()};
    ASSERT_TRUE(window.Found());
    const auto style = ::GetWindowLongW(window.Window(), GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(::GetWindowLongW(window.Control(IDC_LIST1), GWL_STYLE) & LBS_NOINTEGRALHEIGHT);
    EXPECT_FALSE(::GetWindowLongW(window.Control(IDC_LIST1), GWL_STYLE) & LBS_SORT);
}

// Tab moves between List1 and Command1 only; List2 keeps its place but is never shown, and List1
// has a name for screen readers. (Wine 8 serves no accessible object for a list box, in this
// process or another, so the annotation is not read back here: only the window text.)
TEST_F(Window, TabOrderIsList1Command1AndList1IsNamed) {
    UpdaterWindow window{app.Executable()};
    ASSERT_TRUE(window.Found());
    std::vector<int> stops;
    for (HWND child = ::GetWindow(window.Window(), GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) stops.push_back(::GetDlgCtrlID(child));
    }
    EXPECT_EQ(stops, (std::vector<int>{IDC_LIST1, IDC_COMMAND1}));
    EXPECT_FALSE(::IsWindowVisible(window.Control(IDC_LIST2)));
    EXPECT_EQ(::GetWindow(window.Control(IDC_LIST2), GW_HWNDNEXT), window.Control(IDC_LABEL1));
    EXPECT_EQ(window.Text(window.Control(IDC_LIST1)), texts::kList1Name) << "its name";
}

std::wstring VersionString(const std::vector<BYTE>& data, const std::wstring& name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\" + Wide(KDU_STRING_BLOCK) + L"\\" + name;
    if (!::VerQueryValueW(data.data(), path.c_str(), &value, &length) || length == 0) return L"?";
    return std::wstring{static_cast<const wchar_t*>(value)};
}

TEST(VersionResource, DescribesTheProductInTraditionalChinese) {
    const auto exe = UpdaterExecutable();
    DWORD ignored = 0;
    std::vector<BYTE> data(::GetFileVersionInfoSizeW(exe.c_str(), &ignored));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(
        ::GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));

    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation->language, 0x0404);
    EXPECT_EQ(translation->codePage, 1200);

    EXPECT_EQ(VersionString(data, L"FileVersion"), L"1.00");
    EXPECT_EQ(VersionString(data, L"ProductVersion"), L"1.00");
    EXPECT_EQ(VersionString(data, L"ProductName"), L"KestovaDesktopUpdater");
    EXPECT_EQ(VersionString(data, L"InternalName"), L"KestovaDesktopUpdater");
    EXPECT_EQ(VersionString(data, L"OriginalFilename"), L"KestovaDesktopUpdater.exe");

    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
}

}  // namespace
}  // namespace kdu::testing
