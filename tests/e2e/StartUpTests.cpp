// The real program started under Wine, read from outside through its window.

#include <gtest/gtest.h>

#include <random>
#include <utility>

#include "app/Texts.h"
#include "resources/resource.h"
#include "tests/e2e/UpdaterDriver.h"

namespace kdu::testing {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kNotFound{texts::kInstallFolderNotFound};

// Six message lines as a deployment writes them, in Big5.
const char* const kMessagesUtf8[] = {"歡迎使用 KestovaDesktop 憑證更新",
                                     "本程式將更新憑證與私密金鑰",
                                     "請按「開始更新」",
                                     "更新完成",
                                     "請重新啟動 KestovaDesktop",
                                     "更新失敗，請聯絡客服"};

Lines SixLines() {
    Lines lines;
    for (const char* line : kMessagesUtf8) lines.push_back(Wide(line));
    return lines;
}

std::string Big5File(const Lines& lines, std::string_view terminator = "\r\n") {
    std::string content;
    for (const auto& line : lines) content += Big5(line) + std::string{terminator};
    return content;
}

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        SetStringValue(kProductKey, kInstallPathName, L"C:\\KestovaDesktop");
        app.WriteMessages(Big5File(SixLines()));
    }
    void TearDown() override { DeleteValue(kProductKey, kInstallPathName); }

    void ExpectReady(const UpdaterWindow& window, const Lines& firstThree) const {
        ASSERT_TRUE(window.Found());
        EXPECT_EQ(window.ListItems(IDC_LIST1), firstThree);
        EXPECT_TRUE(window.Enabled(IDC_COMMAND1));
    }
    void ExpectNotFound(const UpdaterWindow& window) const {
        ASSERT_TRUE(window.Found());
        EXPECT_EQ(window.ListItems(IDC_LIST1), Lines{kNotFound});
        EXPECT_FALSE(window.Enabled(IDC_COMMAND1));
        EXPECT_EQ(window.ListItems(IDC_LIST2), SixLines()) << "messages are loaded all the same";
    }

    Deployment app;
};

TEST_F(StartUp, ReadyShowsTheFirstThreeLinesInChinese) {
    UpdaterWindow window{app.Executable()};
    const auto six = SixLines();
    ExpectReady(window, Lines(six.begin(), six.begin() + 3));
    EXPECT_EQ(window.ListItems(IDC_LIST2), six);
    EXPECT_EQ(window.Text(window.Window()), L"KestovaDesktopUpdater");
    EXPECT_EQ(window.Text(window.Control(IDC_COMMAND1)), texts::kStartButton);
    window.SaveScreenshot(L"ready");
    EXPECT_EQ(window.Close(), 0u) << "closing the window ends the program";
}

TEST_F(StartUp, NotFoundWhenTheValueIsAbsent) {
    DeleteValue(kProductKey, kInstallPathName);
    UpdaterWindow window{app.Executable()};
    ExpectNotFound(window);
    window.SaveScreenshot(L"not-found");
}

// Opened from inside the zip, Explorer extracts the exe alone: the window says what is missing
// and how to get it, and offers no run that would fail.
TEST_F(StartUp, TheExeAloneListsTheMissingFilesAndCannotStart) {
    for (const auto* name : {L"data1.bin", L"data2.bin", L"data3.bin"}) {
        ::DeleteFileW((app / name).c_str());
    }
    UpdaterWindow window{app.Executable()};
    ASSERT_TRUE(window.Found());
    const auto rows = window.ListItems(IDC_LIST1);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], std::wstring{texts::kPackageFilesMissing} +
                           L"data1.bin\u3001data2.bin\u3001data3.bin");
    EXPECT_EQ(rows[1], texts::kExtractFirst[0]);
    EXPECT_EQ(rows[2], texts::kExtractFirst[1]);
    EXPECT_FALSE(window.Enabled(IDC_COMMAND1));
    EXPECT_TRUE(window.WaitForFocus(IDC_LIST1, 5000)) << "the keyboard still works";
    window.SaveScreenshot(L"files-missing");
}

TEST_F(StartUp, NotFoundWhenTheValueIsEmpty) {
    SetStringValue(kProductKey, kInstallPathName, L"");
    UpdaterWindow window{app.Executable()};
    ExpectNotFound(window);
}

TEST_F(StartUp, NotFoundForMultiStringAndBinaryValues) {
    SetStringValue(kProductKey, kInstallPathName, std::wstring(L"C:\\a\0C:\\b", 9), REG_MULTI_SZ);
    {
        UpdaterWindow window{app.Executable()};
        ExpectNotFound(window);
    }
    SetBinaryValue(kProductKey, kInstallPathName, "C:\\");
    UpdaterWindow window{app.Executable()};
    ExpectNotFound(window);
}

// Where WScript.Shell cannot be created, the value is read directly: the window is Ready.
TEST_F(StartUp, FoundWhenTheShellObjectIsUnavailable) {
    const auto six = SixLines();
    const Lines firstThree(six.begin(), six.begin() + 3);
    // Wine's per-program DLL settings: no wshom.ocx.
    const std::wstring overrides =
        L"Software\\Wine\\AppDefaults\\KestovaDesktopUpdater.exe\\DllOverrides";
    SetStringValue(overrides, L"wshom.ocx", L"");
    { ExpectReady(UpdaterWindow{app.Executable()}, firstThree); }
    DeleteValue(overrides, L"wshom.ocx");
    // Its class registration pointing to a class that does not exist (Wine reads only the
    // machine's registration, so the prefix's own is changed, and put back).
    const std::wstring registration = L"Software\\Classes\\WScript.Shell\\CLSID";
    const auto registered = MachineStringValue(registration);
    SetMachineStringValue(registration, L"{00000000-0000-0000-0000-00000000004B}");
    { ExpectReady(UpdaterWindow{app.Executable()}, firstThree); }
    SetMachineStringValue(registration, registered);
    ASSERT_FALSE(registered.empty());
}

TEST_F(StartUp, BlanksDwordAndMissingFoldersCountAsFound) {
    const auto six = SixLines();
    const Lines firstThree(six.begin(), six.begin() + 3);
    SetStringValue(kProductKey, kInstallPathName, L"   ");
    { ExpectReady(UpdaterWindow{app.Executable()}, firstThree); }
    SetDwordValue(kProductKey, kInstallPathName, 7);
    { ExpectReady(UpdaterWindow{app.Executable()}, firstThree); }
    SetStringValue(kProductKey, kInstallPathName, L"Q:\\no\\such\\folder\\");
    { ExpectReady(UpdaterWindow{app.Executable()}, firstThree); }
}

TEST_F(StartUp, MessageFileLineRules) {
    struct Case {
        const char* name;
        std::string content;
        Lines list2;
    };
    const Case cases[] = {
        {"no final CR LF", "1\r\n2\r\n3\r\n4\r\n5\r\n6", {L"1", L"2", L"3", L"4", L"5", L"6"}},
        {"CR alone", "1\r2\r3\r", {L"1", L"2", L"3"}},
        {"LF inside a line", "a\nb\r\nc\r\nd\n", {L"a\nb", L"c", L"d\n"}},
        {"blank and whitespace lines", "\r\n   \r\n\t\r\n", {L"", L"   ", L"\t"}},
        {"more than six",
         "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n",
         {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8"}},
        {"fewer than three", "only\r\n", {L"only"}},
        {"UTF-8 with a byte-order mark",
         "\xEF\xBB\xBF\xE6\x9B\xB4\xE6\x96\xB0\r\nx",
         {L"\u66F4\u65B0", L"x"}},
        {"UTF-16LE with a byte-order mark",
         std::string("\xFF\xFE\xF4\x66\r\0\n\0x\0", 10),
         {L"\u66F4", L"x"}},
    };
    for (const auto& c : cases) {
        app.WriteMessages(c.content);
        UpdaterWindow window{app.Executable()};
        ASSERT_TRUE(window.Found()) << c.name;
        EXPECT_EQ(window.ListItems(IDC_LIST2), c.list2) << c.name;
        Lines firstThree = c.list2;
        firstThree.resize(3);  // missing lines are listed as empty rows
        EXPECT_EQ(window.ListItems(IDC_LIST1), firstThree) << c.name;
    }
}

TEST_F(StartUp, UnreadableMessageFileStillOpensReadyWithThreeEmptyRows) {
    const Lines empty(3);
    ::DeleteFileW((app / L"data3.bin").c_str());
    {
        UpdaterWindow window{app.Executable()};
        ExpectReady(window, empty);
        EXPECT_TRUE(window.ListItems(IDC_LIST2).empty());
    }
    ASSERT_TRUE(::CreateDirectoryW((app / L"data3.bin").c_str(), nullptr));  // a folder
    { ExpectReady(UpdaterWindow{app.Executable()}, empty); }
    ::RemoveDirectoryW((app / L"data3.bin").c_str());

    app.WriteMessages("locked\r\n");
    const win32::UniqueFile holder{::CreateFileW((app / L"data3.bin").c_str(), GENERIC_READ, 0,
                                                 nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(holder);
    ExpectReady(UpdaterWindow{app.Executable()}, empty);
}

// Garbage, and 64 MiB of lone CRs (67 million empty lines): the first 10,000 lines are loaded.
TEST_F(StartUp, GarbageMessageFileIsListedWithoutCrashOrHang) {
    std::mt19937 random{20261207};
    std::string garbage(50u << 20, '\0');
    for (auto& byte : garbage) byte = static_cast<char>(random());
    const std::string loneCrs(64u << 20, '\r');
    for (const std::string* content : {&std::as_const(garbage), &loneCrs}) {
        app.WriteMessages(*content);
        const ULONGLONG started = ::GetTickCount64();
        UpdaterWindow window{app.Executable()};
        ASSERT_TRUE(window.Found());
        const ULONGLONG seconds = (::GetTickCount64() - started) / 1000;
        EXPECT_LT(seconds, 20u) << "the window took too long to open";
        EXPECT_EQ(window.ListCount(IDC_LIST2), 10000);
        EXPECT_EQ(window.ListItems(IDC_LIST1).size(), 3u);
        EXPECT_EQ(window.Close(), 0u);
    }
}

TEST_F(StartUp, MessagesComeFromTheApplicationFolderNotTheWorkingFolder) {
    TempFolder elsewhere{L"cwd"};
    WriteFileBytes(elsewhere / L"data3.bin", "wrong\r\nwrong\r\nwrong\r\n");
    const auto six = SixLines();
    ExpectReady(UpdaterWindow{app.Executable(), elsewhere.Path()},
                Lines(six.begin(), six.begin() + 3));
}

TEST_F(StartUp, ChineseApplicationFolder) {
    Deployment chinese{L"\u66F4\u65B0\u7A0B\u5F0F"};
    chinese.WriteMessages(Big5File(SixLines()));
    const auto six = SixLines();
    ExpectReady(UpdaterWindow{chinese.Executable()}, Lines(six.begin(), six.begin() + 3));
}

}  // namespace
}  // namespace kdu::testing
