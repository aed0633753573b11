#include <gtest/gtest.h>

#include "data/InstallFolder.h"
#include "platform/win32/WshShell.h"
#include "tests/support/Win32TestSupport.h"

namespace kdu::testing {
namespace {

const std::wstring kKey = L"SOFTWARE\\KestovaTests\\Shell";
const std::wstring kFullKey = L"HKEY_CURRENT_USER\\" + kKey + L"\\";

// The value as the shell object returns it, converted as start-up converts it; read directly, as
// where the object cannot be created, it must give the same text.
std::optional<std::wstring> Lookup(const std::wstring& name) {
    auto shell = win32::WshShell{}.CreateShellObject();
    auto text = TextOf(shell->RegRead(kFullKey + name));
    EXPECT_EQ(TextOf(win32::WshShell{}.ReadValue(kFullKey + name)), text) << "read directly";
    return text;
}

TEST(ShellRegRead, StringsComeBackUnchanged) {
    for (const std::wstring value :
         {L"C:\\Kestova", L"C:\\Kestova\\", L"   ", L"", L"D:\\\u5B89\u88DD\\KestovaDesktop"}) {
        SetStringValue(kKey, L"Text", value);
        EXPECT_EQ(Lookup(L"Text"), value);
    }
}

TEST(ShellRegRead, DwordBecomesDecimalTextAndExpandableStringsAreExpanded) {
    SetDwordValue(kKey, L"Number", 42);
    EXPECT_EQ(Lookup(L"Number"), L"42");
    SetDwordValue(kKey, L"Number", 0xFFFFFFFE);
    EXPECT_EQ(Lookup(L"Number"), L"-2");
    SetStringValue(kKey, L"Expandable", L"%SystemRoot%\\Kestova", REG_EXPAND_SZ);
    EXPECT_EQ(Lookup(L"Expandable")->find(L'%'), std::wstring::npos);
}

TEST(ShellRegRead, MultiStringAndBinaryHaveNoTextForm) {
    SetStringValue(kKey, L"List", std::wstring(L"C:\\a\0C:\\b", 9), REG_MULTI_SZ);
    SetBinaryValue(kKey, L"Bytes", "\x01\x02");
    EXPECT_EQ(Lookup(L"List"), std::nullopt);
    EXPECT_EQ(Lookup(L"Bytes"), std::nullopt);
}

TEST(ShellRegRead, AbsentValueFailsWithTheSystemsError) {
    DeleteValue(kKey, L"Absent");
    for (const bool directly : {false, true}) {
        try {
            const auto path = kFullKey + L"Absent";
            directly ? win32::WshShell{}.ReadValue(path)
                     : win32::WshShell{}.CreateShellObject()->RegRead(path);
            FAIL() << "an absent value was read, directly: " << directly;
        } catch (const SystemError& error) {
            EXPECT_NE(error.Code(), 0u);
            EXPECT_EQ(error.Path(), kFullKey + L"Absent");
        }
    }
}

TEST(ShellRegRead, TheShellObjectCanBeCreatedTwice) {
    SetStringValue(kKey, L"Text", L"x");
    EXPECT_EQ(Lookup(L"Text"), L"x");
    EXPECT_EQ(Lookup(L"Text"), L"x");  // COM initialised and released each time
}

}  // namespace
}  // namespace kdu::testing
