#include "app/Form1.h"

#include <gtest/gtest.h>

#include "app/Texts.h"
#include "tests/unit/Fakes.h"

namespace kdu::testing {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kDownloads = L"C:\\Users\\user\\Downloads\\";
const std::wstring kMessagePath = kDownloads + L"data3.bin";
const std::wstring kNotFound{texts::kInstallFolderNotFound};

class StartUp : public ::testing::Test, protected FakeForm {
protected:
    void SetUp() override {
        files.files[kMessagePath] = "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\n";
        files.files[kDownloads + L"data1.bin"] = "certificate";
        files.files[kDownloads + L"data2.bin"] = "key";
        shell.value = std::wstring{L"C:\\Program Files\\KestovaDesktop"};
    }

    void Load() { form.OnLoad(); }
};

TEST_F(StartUp, FoundFolderListsTheFirstThreeLinesAndKeepsTheButton) {
    Load();
    EXPECT_EQ(list1.items, (Lines{L"one", L"two", L"three"}));
    EXPECT_EQ(list2.items, (Lines{L"one", L"two", L"three", L"four", L"five", L"six"}));
    EXPECT_TRUE(command1.enabled);
    EXPECT_EQ(form.InstallFolder, L"C:\\Program Files\\KestovaDesktop");
    EXPECT_EQ(form.CertificateFile, L"Certificate.pem");
    EXPECT_EQ(form.PrivateKeyFile, L"PrivateKey.pem");
    EXPECT_EQ(shell.readPaths,
              (Lines{L"HKEY_CURRENT_USER\\SOFTWARE\\Kestova\\Desktop\\InstallPath"}));

    shell.unavailable = true;  // hardening or endpoint rules: the value is read directly
    list1.items.clear();
    Load();
    EXPECT_EQ(form.InstallFolder, L"C:\\Program Files\\KestovaDesktop");
    EXPECT_EQ(shell.directPaths, shell.readPaths) << "the same value, and only then";
}

TEST_F(StartUp, TheShellObjectIsReleasedBeforeStartUpEnds) {
    Load();
    EXPECT_EQ(shell.readPaths.size(), 1u);
    EXPECT_EQ(shell.alive, 0);
}

TEST_F(StartUp, FolderValuesAreUsedUnchanged) {
    for (const std::wstring value : {L"   ", L"D:\\Kestova\\", L"Z:\\does\\not\\exist"}) {
        list1.items.clear();
        shell.value = value;
        Load();
        EXPECT_EQ(form.InstallFolder, value);
        EXPECT_EQ(list1.items.size(), 3u);
        EXPECT_TRUE(command1.enabled);
    }
}

TEST_F(StartUp, NumberValueBecomesItsDecimalText) {
    shell.value = std::int64_t{-5};
    Load();
    EXPECT_EQ(form.InstallFolder, L"-5");
    EXPECT_EQ(list1.items.size(), 3u);
}

TEST_F(StartUp, EveryWayOfNotFindingTheFolderEndsNotFound) {
    struct Case {
        const char* name = "";
        std::optional<RegistryValue> value;
        bool unavailable = false;
    };
    const Case cases[] = {
        {"absent", std::nullopt, false},
        {"empty", std::wstring{}, false},
        {"list of strings", NoTextForm{0x200C}, false},
        {"raw bytes", NoTextForm{0x2011}, false},
        {"no shell object, and no value", std::nullopt, true},
    };
    for (const auto& c : cases) {
        FakeListBox progress;
        FakeListBox messages;
        FakeButton button;
        shell.value = c.value;
        shell.unavailable = c.unavailable;
        Form1 window{Form1Controls{progress, messages, button, errors, shutdownBlock}, services};
        window.OnLoad();
        EXPECT_EQ(window.InstallFolder, L"") << c.name;
        EXPECT_EQ(progress.items, (Lines{kNotFound})) << c.name;
        EXPECT_FALSE(button.enabled) << c.name;
        EXPECT_EQ(messages.items.size(), 6u) << c.name << ": the messages are still loaded";
    }
}

TEST_F(StartUp, MissingMessageFileStillListsThreeEmptyRows) {
    files.files.erase(kMessagePath);
    Load();
    EXPECT_EQ(list1.items, (Lines{L"", L"", L""}));
    EXPECT_TRUE(list2.items.empty());
    EXPECT_TRUE(command1.enabled);
}

// The exe opened from inside the zip, extracted alone: the user is told what is missing, and
// cannot start a run that would fail.
TEST_F(StartUp, MissingCertificateOrKeyIsListedInsteadOfTheIntroduction) {
    const std::pair<Lines, std::wstring> cases[] = {
        {{L"data1.bin"}, L"data1.bin"},
        {{L"data2.bin", L"data3.bin"}, L"data2.bin\u3001data3.bin"},
        {{L"data1.bin", L"data2.bin", L"data3.bin"}, L"data1.bin\u3001data2.bin\u3001data3.bin"},
    };
    for (const auto& [missing, listed] : cases) {
        SetUp();
        for (const auto& name : missing) files.files.erase(kDownloads + name);
        list1.items.clear();
        command1.enabled = true;
        Load();
        EXPECT_EQ(list1.items, (Lines{std::wstring{texts::kPackageFilesMissing} + listed,
                                      std::wstring{texts::kExtractFirst[0]},
                                      std::wstring{texts::kExtractFirst[1]}}));
        EXPECT_FALSE(command1.enabled);
    }
}

TEST_F(StartUp, ShortMessageFileFillsTheMissingRowsWithEmptyText) {
    files.files[kMessagePath] = "only one";
    Load();
    EXPECT_EQ(list1.items, (Lines{L"only one", L"", L""}));
}

TEST_F(StartUp, MessageFileIsReadFromTheExecutablesFolder) {
    program.path = L"E:\\KestovaDesktopUpdater.exe";
    files.files = {{L"E:\\\\data3.bin", "root"}};
    Load();
    EXPECT_EQ(list2.items, (Lines{L"root"}));
}

TEST_F(StartUp, ALineThatCannotBeListedIsSkippedAndTheRestGoOn) {
    list2.failingTexts = {L"two"};
    Load();
    EXPECT_EQ(list2.items, (Lines{L"one", L"three", L"four", L"five", L"six"}));
    EXPECT_EQ(list1.items, (Lines{L"one", L"three", L"four"}));
}

TEST_F(StartUp, NotFoundMessageFailingStillDisablesTheButton) {
    shell.value.reset();
    list1.failingTexts = {kNotFound};
    Load();
    EXPECT_TRUE(list1.items.empty());
    EXPECT_FALSE(command1.enabled);
}

TEST(Texts, ChineseTextsAreExactUtf16) {
    EXPECT_EQ(texts::kStartButton, std::wstring_view(L"\u958B\u59CB\u66F4\u65B0"));
    EXPECT_EQ(texts::kInstallFolderNotFound,
              std::wstring_view(L"\u4E26\u672A\u767C\u73FEKestovaDesktop\u5B89\u88DD\u8DEF\u5F91"));
}

}  // namespace
}  // namespace kdu::testing
