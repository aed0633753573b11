// A package built by kestova-package, run as users run it: it installs exactly the certificate
// and key it was built from and shows exactly the message lines. package-round-trip.sh builds
// the package and names it in KDU_PACKAGE_APP, and its inputs' folder in KDU_PACKAGE_SOURCE.

#include <gtest/gtest.h>

#include <map>

#include "app/Texts.h"
#include "resources/resource.h"
#include "tests/e2e/UpdaterDriver.h"

namespace kdu::testing {
namespace {

using Lines = std::vector<std::wstring>;

Lines Utf8Lines(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(Wide(text.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

// The package, its inputs' folder, and a product installed with an old pair.
class PackageRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(app.empty() || source.empty()) << "run by package-round-trip.sh";
        WriteFileBytes(install / L"Certificate.pem", "OLD CERTIFICATE");
        WriteFileBytes(install / L"PrivateKey.pem", "OLD KEY");
        SetStringValue(kProductKey, kInstallPathName, install.Path());
    }
    void TearDown() override { DeleteValue(kProductKey, kInstallPathName); }

    const std::wstring app = Environment(L"KDU_PACKAGE_APP");
    const std::wstring source = Environment(L"KDU_PACKAGE_SOURCE");
    TempFolder install{L"round-trip"};
};

// The exe carries the data files' digests under its signature. A certificate left from an
// earlier download, or another matching pair with SHA256SUMS rewritten to match or deleted: each
// is refused before any change, naming the file.
TEST_F(PackageRoundTrip, AChangedPairIsRefusedWhateverSha256SumsSays) {
    const std::wstring files[] = {L"data1.bin", L"data2.bin", L"SHA256SUMS"};
    std::map<std::wstring, std::string> packaged;
    for (const auto& name : files) packaged[name] = ReadFileBytes(app + L"\\" + name);
    const auto older = source + L"\\..\\installed\\";  // a matching pair of its own
    const auto rewritten = ReadFileBytes(Environment(L"KDU_PACKAGE_REWRITTEN_SUMS"));
    const struct {
        std::wstring certificate;
        std::string sums;  // empty: deleted
    } cases[] = {{source + L"\\test-ca.pem", packaged[L"SHA256SUMS"]},
                 {older + L"Certificate.pem", rewritten},
                 {older + L"Certificate.pem", ""}};
    for (const auto& [certificate, sums] : cases) {
        SCOPED_TRACE(sums.substr(0, 16));
        WriteFileBytes(app + L"\\data1.bin", ReadFileBytes(certificate));
        if (certificate != cases[0].certificate) {
            WriteFileBytes(app + L"\\data2.bin", ReadFileBytes(older + L"PrivateKey.pem"));
        }
        if (sums.empty()) {
            ::DeleteFileW((app + L"\\SHA256SUMS").c_str());
        } else {
            WriteFileBytes(app + L"\\SHA256SUMS", sums);
        }
        UpdaterWindow window{app + L"\\KestovaDesktopUpdater.exe"};
        ASSERT_TRUE(window.Found());
        window.Click(IDC_COMMAND1);
        const HWND box = window.WaitForErrorBox(30000);
        ASSERT_NE(box, nullptr);
        const auto message = window.DialogText(box);
        EXPECT_NE(message.find(texts::kChangedAfterPackaging), std::wstring::npos) << "says why";
        EXPECT_NE(message.find(L"323"), std::wstring::npos);
        EXPECT_NE(message.find(L"data1.bin"), std::wstring::npos) << "names the file";
        if (&certificate == &cases[1].certificate) window.SaveScreenshot(L"not-in-package", box);
        ASSERT_TRUE(window.AnswerErrorBox(box));
        ASSERT_TRUE(window.WaitUntilDone(kFailedRows, 30000)) << "line 6 listed";
    }
    for (const auto& name : files) WriteFileBytes(app + L"\\" + name, packaged[name]);
    EXPECT_EQ(FileNames(install.Path()), (Lines{L"Certificate.pem", L"PrivateKey.pem"}));
    EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem"), "OLD CERTIFICATE");
}

// A changed message file is refused at start-up: none of its lines is shown.
TEST_F(PackageRoundTrip, AChangedMessageFileIsRefusedAtStartUp) {
    const auto packaged = ReadFileBytes(app + L"\\data3.bin");
    WriteFileBytes(app + L"\\data3.bin", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n");
    {
        UpdaterWindow window{app + L"\\KestovaDesktopUpdater.exe"};
        ASSERT_TRUE(window.Found());
        EXPECT_EQ(window.ListItems(IDC_LIST1),
                  (Lines{std::wstring{texts::kChangedAfterPackagingRow} + L"data3.bin",
                         std::wstring{texts::kDownloadAgain}}));
        EXPECT_FALSE(window.Enabled(IDC_COMMAND1));
        window.SaveScreenshot(L"changed-message-file");
    }
    WriteFileBytes(app + L"\\data3.bin", packaged);
    EXPECT_EQ(FileNames(install.Path()), (Lines{L"Certificate.pem", L"PrivateKey.pem"}));
}

// The package's detection rule as Intune evaluates it: a version comparison, "greater than or
// equal to", of the registry value it names (absent: not detected).
bool Detected(const std::string& rules) {
    const auto field = [&](const std::string& label) {
        const auto at = rules.find("  " + label + ": ") + label.size() + 4;
        return Wide(rules.substr(at, rules.find('\n', at) - at));
    };
    const auto key = field("Key path").substr(std::wstring{L"HKEY_CURRENT_USER\\"}.size());
    wchar_t value[64] = {};
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), field("Value name").c_str(), RRF_RT_REG_SZ,
                       nullptr, value, &size) != ERROR_SUCCESS) {
        return false;
    }
    const auto parts = [](const std::wstring& text) {
        std::vector<unsigned long> numbers;
        for (std::size_t at = 0; at <= text.size(); at = text.find(L'.', at) + 1) {
            numbers.push_back(std::stoul(text.substr(at)));
            if (text.find(L'.', at) == std::wstring::npos) break;
        }
        return numbers;
    };
    return parts(value) >= parts(field("Value"));
}

// Detected exactly where this package's pair, or a newer one, is installed: not over the old
// pair (no value), nor after /uninstall (which puts it back once). (A run that leaves the pair
// mixed forgets the value: unit.Update.AnUndoThatFailsIsSaidPlainlyAndTheNextRunCompletesThePair.)
TEST_F(PackageRoundTrip, ItsDetectionRuleFindsItsPairOrANewerOneOnly) {
    const auto rules = ReadFileBytes(Environment(L"KDU_PACKAGE_RULES"));
    const auto exe = app + L"\\KestovaDesktopUpdater.exe";
    const auto older = source + L"\\..\\installed\\";
    const auto installPair = [&](const std::wstring& certificate, const std::wstring& key) {
        WriteFileBytes(install / L"Certificate.pem", ReadFileBytes(certificate));
        WriteFileBytes(install / L"PrivateKey.pem", ReadFileBytes(key));
    };
    installPair(older + L"Certificate.pem", older + L"PrivateKey.pem");
    DeleteValue(L"SOFTWARE\\Kestova\\DesktopUpdater", L"InstalledCertificate");
    EXPECT_FALSE(Detected(rules)) << "the old pair";
    bool shown = false;
    EXPECT_EQ(RunToEnd(exe, L"/S", shown), 0u);
    EXPECT_TRUE(Detected(rules)) << "this package's pair";
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(RunToEnd(exe, L"/uninstall", shown), 0u);
        EXPECT_FALSE(Detected(rules)) << "uninstalled, run " << run;
        EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem"),
                  ReadFileBytes(older + L"Certificate.pem"));
    }
    const auto newer = Environment(L"KDU_PACKAGE_NEWER");
    installPair(newer + L"-cert.pem", newer + L"-key.pem");
    EXPECT_EQ(RunToEnd(exe, L"/quiet", shown), 1638u);
    EXPECT_TRUE(Detected(rules)) << "a newer pair";
}

TEST_F(PackageRoundTrip, InstallsItsPairAndShowsItsLines) {
    const auto certificate = ReadFileBytes(source + L"\\new-cert.pem");
    const auto key = ReadFileBytes(source + L"\\new-key.pem");
    const auto messages = Utf8Lines(ReadFileBytes(source + L"\\messages.txt"));
    ASSERT_EQ(messages.size(), 6U);
    {
        UpdaterWindow window{app + L"\\KestovaDesktopUpdater.exe"};
        ASSERT_TRUE(window.Found());
        EXPECT_EQ(window.ListItems(IDC_LIST2), messages);
        EXPECT_EQ(window.ListItems(IDC_LIST1), Lines(messages.begin(), messages.begin() + 3));
        window.Click(IDC_COMMAND1);
        ASSERT_TRUE(window.WaitUntilDone(kDoneRows, 30000));
        const Lines done{messages[0], messages[1], messages[2], std::wstring{texts::kProgress[2]},
                         messages[3], L"",         messages[4]};
        EXPECT_EQ(window.ListItems(IDC_LIST1), done);
        window.SaveScreenshot(L"package-round-trip");
    }
    EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem"), certificate);
    EXPECT_EQ(ReadFileBytes(install / L"PrivateKey.pem"), key);
    EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem_old"), "OLD CERTIFICATE");
    EXPECT_EQ(ReadFileBytes(install / L"PrivateKey.pem_old"), "OLD KEY");
}

}  // namespace
}  // namespace kdu::testing
