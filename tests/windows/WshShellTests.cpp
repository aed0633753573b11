#include <gtest/gtest.h>

#include "data/InstallFolder.h"
#include "platform/win32/WshShell.h"
#include "tests/support/Win32TestSupport.h"

namespace kdu::testing {
namespace {

const std::wstring kKey = L"SOFTWARE\\KestovaTests\\Shell";
const std::wstring kFullKey = L"HKEY_CURRENT_USER\\" + kKey + L"\\";

// The value as the shell object returns it, converted as start-up converts it.
std::optional<std::wstring> Lookup(const std::wstring& name) {
    auto shell = win32::WshShell{}.CreateShellObject();
    return TextOf(shell->RegRead(kFullKey + name));
}

TEST(ShellRegRead, StringsComeBackUnchanged) {
    for (const std::wstring value :
         {L"C:\\Kestova", L"C:\\Kestova\\", L"   ", L"", L"D:\\\u5B89\u88DD\\KestovaDesktop"}) {
        SetStringValue(kKey, L"Text", value);
        EXPECT_EQ(Lookup(L"Text"), value);
    }
}

TEST(ShellRegRead, DwordBecomesDecimalText) {
    SetDwordValue(kKey, L"Number", 42);
    EXPECT_EQ(Lookup(L"Number"), L"42");
}

TEST(ShellRegRead, MultiStringAndBinaryHaveNoTextForm) {
    SetStringValue(kKey, L"List", std::wstring(L"C:\\a\0C:\\b", 9), REG_MULTI_SZ);
    SetBinaryValue(kKey, L"Bytes", "\x01\x02");
    EXPECT_EQ(Lookup(L"List"), std::nullopt);
    EXPECT_EQ(Lookup(L"Bytes"), std::nullopt);
}

TEST(ShellRegRead, AbsentValueFailsWithTheSystemsError) {
    DeleteValue(kKey, L"Absent");
    try {
        Lookup(L"Absent");
        FAIL() << "RegRead of an absent value succeeded";
    } catch (const SystemError& error) {
        EXPECT_NE(error.Code(), 0u);
        EXPECT_EQ(error.Path(), kFullKey + L"Absent");
    }
}

TEST(ShellRegRead, TheShellObjectCanBeCreatedTwice) {
    SetStringValue(kKey, L"Text", L"x");
    EXPECT_EQ(Lookup(L"Text"), L"x");
    EXPECT_EQ(Lookup(L"Text"), L"x");  // COM initialised and released each time
}

}  // namespace
}  // namespace kdu::testing
