// The update as a user sees it: press 開始更新, watch the progress row, read the outcome, answer
// the error box; and what it does to the files.

#include <gtest/gtest.h>

#include <algorithm>

#include "app/Texts.h"
#include "resources/resource.h"
#include "tests/e2e/UpdaterDriver.h"
#include "update/CredentialReplacement.h"

namespace kdu::testing {
namespace {

using Lines = std::vector<std::wstring>;

constexpr DWORD kRunTimeoutMs = 30000;

class Update : public ::testing::Test {
protected:
    void SetUp() override { Deploy(app, install.Path()); }
    void TearDown() override { DeleteValue(kProductKey, kInstallPathName); }

    // The four files beside the exe, the old pair in the install folder, the registry value.
    void Deploy(const Deployment& deployment, const std::wstring& installFolder,
                const std::wstring& registryValue = {}) {
        WriteFileBytes(deployment / L"data1.bin", newCertificate);
        WriteFileBytes(deployment / L"data2.bin", newKey);
        deployment.WriteMessages("one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\n");
        WriteFileBytes(installFolder + L"\\Certificate.pem", oldCertificate);
        WriteFileBytes(installFolder + L"\\PrivateKey.pem", oldKey);
        SetStringValue(kProductKey, kInstallPathName,
                       registryValue.empty() ? installFolder : registryValue);
    }

    // Starts the program, presses the button and waits for the run to end.
    Lines RunUpdate(const Deployment& deployment) {
        UpdaterWindow window{deployment.Executable()};
        EXPECT_TRUE(window.Found());
        if (!window.Found()) return {};
        window.Click(IDC_COMMAND1);
        EXPECT_TRUE(window.WaitUntilDone(kDoneRows, kRunTimeoutMs));
        EXPECT_EQ(window.WaitForErrorBox(0), nullptr) << "no error expected";
        return window.ListItems(IDC_LIST1);
    }

    void ExpectNewPairInstalled(const std::wstring& folder) const {
        EXPECT_EQ(ReadFileBytes(folder + L"\\Certificate.pem"), newCertificate);
        EXPECT_EQ(ReadFileBytes(folder + L"\\PrivateKey.pem"), newKey);
        EXPECT_EQ(ReadFileBytes(folder + L"\\Certificate.pem_old"), oldCertificate);
        EXPECT_EQ(ReadFileBytes(folder + L"\\PrivateKey.pem_old"), oldKey);
    }

    const Lines kDone{L"one",  L"two", L"three", std::wstring{texts::kProgress[2]},
                      L"four", L"",    L"five"};
    std::string newCertificate = SamplePair().certificate;
    std::string newKey = SamplePair().key;
    std::string oldCertificate = RandomBytes(4000, 3);
    std::string oldKey = RandomBytes(1600, 4);
    Deployment app;
    TempFolder install{L"KestovaDesktop"};
};

TEST_F(Update, FullRunShowsProgressThenReplacesThePair) {
    UpdaterWindow window{app.Executable()};
    ASSERT_TRUE(window.Found());
    const int rowHeight = window.ItemHeight(IDC_LIST1);
    ASSERT_EQ(window.RowInk(IDC_LIST1, 3, rowHeight), 0) << "the fourth row starts empty";

    // Watch the fourth row on the screen, as a user sees it: the window takes no input and paints
    // nothing but the explicit repaints meanwhile.
    window.Click(IDC_COMMAND1);
    const ULONGLONG clicked = ::GetTickCount64();
    std::vector<ULONGLONG> changes;  // when the row's ink grew
    int lastInk = 0;
    while (changes.size() < 3 && ::GetTickCount64() - clicked < 6000) {
        const int ink = window.RowInk(IDC_LIST1, 3, rowHeight);
        if (ink > lastInk) {
            changes.push_back(::GetTickCount64() - clicked);
            std::printf("%llu ms: %d dark pixels in the fourth row\n", changes.back(), ink);
            lastInk = ink;
        }
        ::Sleep(10);
    }
    ASSERT_TRUE(window.WaitUntilDone(kDoneRows, kRunTimeoutMs));
    const ULONGLONG done = ::GetTickCount64() - clicked;
    std::printf("closing lines %llu ms after the click\n", done);

    ASSERT_EQ(changes.size(), 3u) << "three growing progress texts";
    EXPECT_LT(changes[0], 800u);
    EXPECT_NEAR(static_cast<double>(changes[1] - changes[0]), 1000.0, 300.0);
    EXPECT_NEAR(static_cast<double>(changes[2] - changes[1]), 1000.0, 300.0);
    EXPECT_GE(done, 3000u) << "the first copy waits three seconds";

    EXPECT_EQ(window.ListItems(IDC_LIST1), kDone);
    EXPECT_FALSE(window.Enabled(IDC_COMMAND1));
    window.SaveScreenshot(L"done");
    ExpectNewPairInstalled(install.Path());
    EXPECT_EQ(FileNames(install.Path()), (Lines{L"Certificate.pem", L"Certificate.pem_old",
                                                L"PrivateKey.pem", L"PrivateKey.pem_old"}));
    EXPECT_EQ(ReadFileBytes(app / L"data1.bin"), newCertificate) << "sources stay";
    EXPECT_EQ(ReadFileBytes(app / L"data2.bin"), newKey);
    EXPECT_EQ(window.Close(), 0u);
}

// Windows ghosts a window whose thread has not looked at its queue for 5 s: every wait of the run
// (the pauses, another run's lock, the retries of a key held for a moment) answers messages.
TEST_F(Update, AnswersTheSystemAtEveryMomentOfTheRun) {
    win32::UniqueFile lock{::CreateFileW((install / kLockFile).c_str(), GENERIC_WRITE | DELETE, 0,
                                         nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr)};
    win32::UniqueFile key{::CreateFileW((install / L"PrivateKey.pem").c_str(), GENERIC_READ, 0,
                                        nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(lock && key);
    UpdaterWindow window{app.Executable()};
    ASSERT_TRUE(window.Found());
    window.Click(IDC_COMMAND1);
    const ULONGLONG clicked = ::GetTickCount64();
    ULONGLONG longest = 0;
    int sends = 0;
    for (ULONGLONG since = 0; !window.WaitUntilDone(kDoneRows, 0) && since < kRunTimeoutMs;
         since = ::GetTickCount64() - clicked) {
        if (since > 4000) lock.reset();  // a second of waiting for the lock
        if (since > 5500) key.reset();   // then one and a half of retries
        const ULONGLONG sent = ::GetTickCount64();
        DWORD_PTR ignored = 0;
        EXPECT_TRUE(
            ::SendMessageTimeoutW(window.Window(), WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored))
            << "at " << since << " ms";
        longest = std::max(longest, ::GetTickCount64() - sent);
        ++sends;
        ::Sleep(200);
    }
    std::printf("%d messages sent; the longest took %llu ms to be answered\n", sends, longest);
    EXPECT_LT(longest, 1000u);
    EXPECT_GT(::GetTickCount64() - clicked, 5500u) << "the run waited for the lock and the key";
    EXPECT_EQ(window.ListItems(IDC_LIST1), kDone);
    ExpectNewPairInstalled(install.Path());
}

// The keyboard alone: the button has the focus and is the default, so Enter starts the run; the
// focus then moves to List1 before the button is disabled.
TEST_F(Update, EnterStartsTheRun) {
    UpdaterWindow window{app.Executable()};
    ASSERT_TRUE(window.Found());
    ASSERT_TRUE(window.WaitForFocus(IDC_COMMAND1, kRunTimeoutMs));
    window.PressKey(VK_RETURN);
    ASSERT_TRUE(window.WaitUntilDone(kDoneRows, kRunTimeoutMs));
    EXPECT_TRUE(window.WaitForFocus(IDC_LIST1, kRunTimeoutMs)) << window.Focused();
    ExpectNewPairInstalled(install.Path());
}

TEST_F(Update, SecondAndThirdRunsKeepTheOriginalBackups) {
    for (int run = 1; run <= 3; ++run) {
        EXPECT_EQ(RunUpdate(app), kDone) << "run " << run;
        ExpectNewPairInstalled(install.Path());
        EXPECT_EQ(FileNames(install.Path()).size(), 4u);
    }
}

// The permissions (as far as Wine shows them: see kEveryoneWritesEntry) and attributes of the
// installed files go to the new files, and the key's to its backup.
TEST_F(Update, NewFilesAndTheKeysBackupKeepTheInstalledFilesPermissionsAndAttributes) {
    constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (const wchar_t* name : {L"Certificate.pem", L"PrivateKey.pem"}) {
        SetFileDacl(install / name, kEveryoneWritesDacl);
        ::SetFileAttributesW((install / name).c_str(), kHiddenSystem);
    }
    EXPECT_EQ(RunUpdate(app), kDone);
    ExpectNewPairInstalled(install.Path());
    for (const wchar_t* name : {L"Certificate.pem", L"PrivateKey.pem", L"PrivateKey.pem_old"}) {
        EXPECT_NE(FileDacl(install / name).find(kEveryoneWritesEntry), std::wstring::npos) << name;
        EXPECT_EQ(::GetFileAttributesW((install / name).c_str()) & kHiddenSystem, kHiddenSystem)
            << name;
    }
}

// The second copy waits for the first, then finds the pair done.
TEST_F(Update, TwoCopiesPressedAtOnceBothEndWithTheNewPair) {
    UpdaterWindow first{app.Executable()};
    UpdaterWindow second{app.Executable()};
    ASSERT_TRUE(first.Found() && second.Found());
    first.Click(IDC_COMMAND1);
    second.Click(IDC_COMMAND1);
    for (const UpdaterWindow* window : {&first, &second}) {
        EXPECT_TRUE(window->WaitUntilDone(kDoneRows, kRunTimeoutMs));
        EXPECT_EQ(window->WaitForErrorBox(0), nullptr) << "no error";
        EXPECT_EQ(window->ListItems(IDC_LIST1), kDone);
    }
    ExpectNewPairInstalled(install.Path());
}

// /quiet, as deployment tools run it: no window at any moment, the outcome as exit code.
TEST_F(Update, QuietRunForDeploymentTools) {
    const auto log = app / L"update.log";
    bool windowShown = true;
    EXPECT_EQ(RunToEnd(app.Executable(), L"/quiet /log=\"" + log + L"\"", windowShown), 0u);
    EXPECT_FALSE(windowShown) << "no window at any moment";
    ExpectNewPairInstalled(install.Path());
    const std::string folder(install.Path().begin(), install.Path().end());  // ASCII here
    EXPECT_NE(ReadFileBytes(log).find("\t" + folder + "\treplaced\t0\r\n"), std::string::npos)
        << ReadFileBytes(log);

    EXPECT_EQ(RunToEnd(app.Executable(), L"-QUIET", windowShown), 0u) << "already current";
    ExpectNewPairInstalled(install.Path());

    Deploy(app, install.Path());
    {
        const win32::UniqueFile holder{::CreateFileW((install / L"PrivateKey.pem").c_str(),
                                                     GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                                     nullptr)};
        ASSERT_TRUE(holder);
        for (const wchar_t* arguments : {L"/quiet", L"/quiet /closeapps"}) {
            EXPECT_EQ(RunToEnd(app.Executable(), arguments, windowShown),
                      DWORD{ERROR_INSTALL_ALREADY_RUNNING})
                << arguments;
            EXPECT_FALSE(windowShown);
        }
    }
    EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem"), oldCertificate);

    // No product for this user is "not applicable"; a recorded folder that is gone is not.
    SetStringValue(kProductKey, kInstallPathName, install.Path() + L"\\gone");
    EXPECT_EQ(RunToEnd(app.Executable(), L"/quiet", windowShown), DWORD{ERROR_PATH_NOT_FOUND});
    DeleteValue(kProductKey, kInstallPathName);
    EXPECT_EQ(RunToEnd(app.Executable(), L"/quiet", windowShown), DWORD{ERROR_UNKNOWN_PRODUCT});
    EXPECT_FALSE(windowShown);
    SetStringValue(kProductKey, kInstallPathName, install.Path());

    // An expired certificate: the exit code certificate tools give it, nothing changed.
    Deploy(app, install.Path());
    WriteFileBytes(app / L"data1.bin", SourceFile(L"tests/fixtures/expired-cert.pem"));
    WriteFileBytes(app / L"data2.bin", SourceFile(L"tests/fixtures/expired-key.pem"));
    EXPECT_EQ(RunToEnd(app.Executable(), L"/quiet", windowShown), DWORD{0x800B0101});
    EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem"), oldCertificate);
    Deploy(app, install.Path());

    // A mistyped switch beside /quiet: no usage box where nobody may be there to answer it.
    EXPECT_EQ(RunToEnd(app.Executable(), L"/quiet /frobnicate /log=\"" + log + L"\"", windowShown),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_FALSE(windowShown);
    EXPECT_NE(ReadFileBytes(log).find("\tfailed\t87\t"), std::string::npos) << ReadFileBytes(log);
    // Another installer's spelling of quiet, a log named after a space in a folder not yet made.
    const auto newLog = app / L"logs\\fleet\\update.log";
    EXPECT_EQ(RunToEnd(app.Executable(), L"/S /typo /log \"" + newLog + L"\"", windowShown),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_FALSE(windowShown);
    EXPECT_NE(ReadFileBytes(newLog).find("\tfailed\t87\t"), std::string::npos);
}

// /restore: back to the previous pair and forth again, leaving exactly the four files; the
// window form asks first; refusals change nothing.
TEST_F(Update, RestoreSwapsThePairWithItsBackups) {
    const auto previousCertificate = SourceFile(L"sample/installed/Certificate.pem");
    const auto previousKey = SourceFile(L"sample/installed/PrivateKey.pem");
    WriteFileBytes(install / L"Certificate.pem", previousCertificate);
    WriteFileBytes(install / L"PrivateKey.pem", previousKey);
    bool windowShown = true;
    ASSERT_EQ(RunToEnd(app.Executable(), L"/quiet", windowShown), 0u);
    const auto folderHolds = [&](const std::string& certificate, const std::string& key,
                                 const std::string& certificateBackup,
                                 const std::string& keyBackup) {
        return ReadFileBytes(install / L"Certificate.pem") == certificate &&
               ReadFileBytes(install / L"PrivateKey.pem") == key &&
               ReadFileBytes(install / L"Certificate.pem_old") == certificateBackup &&
               ReadFileBytes(install / L"PrivateKey.pem_old") == keyBackup &&
               FileNames(install.Path()).size() == 4;
    };
    const auto log = app / L"restore.log";
    const auto restore = L"/restore /quiet /log=\"" + log + L"\"";
    EXPECT_EQ(RunToEnd(app.Executable(), restore, windowShown), 0u);
    EXPECT_FALSE(windowShown);
    EXPECT_TRUE(folderHolds(previousCertificate, previousKey, newCertificate, newKey));
    EXPECT_NE(ReadFileBytes(log).find("\trestored\t0\r\n"), std::string::npos)
        << ReadFileBytes(log);
    EXPECT_EQ(RunToEnd(app.Executable(), restore, windowShown), 0u);
    EXPECT_TRUE(folderHolds(newCertificate, newKey, previousCertificate, previousKey));

    // The window form: 否 changes nothing; 是 swaps and says so.
    for (const int answer : {IDNO, IDYES}) {
        UpdaterWindow question{app.Executable(), {}, kDialogClass, L"/restore"};
        ASSERT_TRUE(question.Found());
        EXPECT_TRUE(question.DialogText(question.Window()).starts_with(texts::kRestoreQuestion));
        if (answer == IDNO) question.SaveScreenshot(L"restore-question", question.Window());
        EXPECT_TRUE(question.AnswerErrorBox(question.Window(), answer));
        if (answer == IDYES) {
            const HWND done = question.WaitForErrorBox(kRunTimeoutMs);
            ASSERT_NE(done, nullptr);
            EXPECT_EQ(question.DialogText(done), texts::kRestored);
            question.AnswerErrorBox(done);
        }
        EXPECT_EQ(question.WaitForExit(kRunTimeoutMs),
                  answer == IDNO ? DWORD{ERROR_CANCELLED} : 0u);
    }
    EXPECT_TRUE(folderHolds(previousCertificate, previousKey, newCertificate, newKey));

    // A backup key of another pair, then no backup at all: refused, nothing changed.
    WriteFileBytes(install / L"PrivateKey.pem_old", previousKey);
    EXPECT_EQ(RunToEnd(app.Executable(), L"/restore /quiet", windowShown),
              DWORD{ERROR_INVALID_DATA});
    EXPECT_TRUE(folderHolds(previousCertificate, previousKey, newCertificate, previousKey));
    ::DeleteFileW((install / L"PrivateKey.pem_old").c_str());
    EXPECT_EQ(RunToEnd(app.Executable(), L"/restore /quiet", windowShown), DWORD{ERROR_NOT_FOUND})
        << "no backup";
    EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem"), previousCertificate);
    EXPECT_EQ(FileNames(install.Path()).size(), 3u);
}

TEST_F(Update, TrailingSeparatorAndChineseFolders) {
    Deployment chineseApp{L"\u4E0B\u8F09"};
    TempFolder chineseInstall{L"\u5B89\u88DD\u8CC7\u6599\u593E"};
    Deploy(chineseApp, chineseInstall.Path(), chineseInstall.Path() + L"\\");
    EXPECT_EQ(RunUpdate(chineseApp), kDone);
    ExpectNewPairInstalled(chineseInstall.Path());
}

TEST_F(Update, ApplicationFolderIsTheInstallFolder) {
    Deploy(app, app.Folder());
    EXPECT_EQ(RunUpdate(app), kDone);
    ExpectNewPairInstalled(app.Folder());
}

TEST_F(Update, InstallPathLongerThan260Characters) {
    std::wstring deep = install.Path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(50, L'd');
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
    }
    WriteFileBytes(L"\\\\?\\" + deep + L"\\Certificate.pem", oldCertificate);
    WriteFileBytes(L"\\\\?\\" + deep + L"\\PrivateKey.pem", oldKey);
    SetStringValue(kProductKey, kInstallPathName, deep);
    EXPECT_EQ(RunUpdate(app), kDone);
    EXPECT_EQ(ReadFileBytes(L"\\\\?\\" + deep + L"\\PrivateKey.pem"), newKey);
    EXPECT_EQ(ReadFileBytes(L"\\\\?\\" + deep + L"\\PrivateKey.pem_old"), oldKey);
    for (const wchar_t* name :
         {L"Certificate.pem", L"Certificate.pem_old", L"PrivateKey.pem", L"PrivateKey.pem_old"}) {
        ::DeleteFileW((L"\\\\?\\" + deep + L"\\" + name).c_str());
    }
    for (; deep.size() > install.Path().size(); deep.resize(deep.rfind(L'\\'))) {
        ::RemoveDirectoryW((L"\\\\?\\" + deep).c_str());
    }
}

// A run that cannot succeed: the error box, then line 6; the pair as it was; the window open.
class FailedUpdate : public Update {
protected:
    void ExpectFailure(const char* name, const std::wstring& fileInBox, bool screenshot = false,
                       std::wstring_view reason = {}, int answer = IDOK) {
        SCOPED_TRACE(name);
        const auto before = FileNames(install.Path());
        UpdaterWindow window{app.Executable()};
        ASSERT_TRUE(window.Found());
        window.Click(IDC_COMMAND1);
        const HWND box = window.WaitForErrorBox(kRunTimeoutMs);
        ASSERT_NE(box, nullptr) << "an error box";
        EXPECT_EQ(window.Text(box), L"KestovaDesktopUpdater");
        EXPECT_EQ(::GetWindow(box, GW_OWNER), window.Window()) << "owned by the window";
        const auto message = window.DialogText(box);
        EXPECT_NE(message.find(fileInBox), std::wstring::npos) << "names the file";
        EXPECT_NE(message.find(texts::kErrorNumber), std::wstring::npos) << "gives the number";
        EXPECT_NE(message.find(reason), std::wstring::npos) << "says why";
        EXPECT_EQ(window.SendToWindow(WM_QUERYENDSESSION), TRUE)
            << "nothing runs: the session may end while the box is open";
        if (screenshot) window.SaveScreenshot(answer == IDOK ? L"error-box" : L"retry-box", box);
        ASSERT_TRUE(window.AnswerErrorBox(box, answer)) << "the box closes";
        ASSERT_TRUE(window.WaitUntilDone(kFailedRows, kRunTimeoutMs)) << "line 6 listed";

        EXPECT_EQ(window.ListItems(IDC_LIST1),
                  (Lines{L"one", L"two", L"three", std::wstring{texts::kProgress[2]}, L"six"}));
        EXPECT_FALSE(window.Enabled(IDC_COMMAND1));
        EXPECT_TRUE(window.Running()) << "the window stays open until the user closes it";
        if (screenshot && answer == IDOK) window.SaveScreenshot(L"failed");
        EXPECT_EQ(FileNames(install.Path()), before) << "no file added or removed";
        if (::GetFileAttributesW((install / L"Certificate.pem").c_str()) !=
            INVALID_FILE_ATTRIBUTES) {
            EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem"), oldCertificate);
        }
        // The exit code is the number the box gave.
        const auto number =
            message.substr(message.find(texts::kErrorNumber) + texts::kErrorNumber.size());
        EXPECT_EQ(window.Close(), std::stoul(number, nullptr, 0)) << "the box's number";
    }
};

TEST_F(FailedUpdate, NoInstalledCertificate) {
    ::DeleteFileW((install / L"Certificate.pem").c_str());
    ExpectFailure("no certificate", install / L"Certificate.pem", true);
}

TEST_F(FailedUpdate, NoInstalledPrivateKey) {
    ::DeleteFileW((install / L"PrivateKey.pem").c_str());
    ExpectFailure("no private key", install / L"PrivateKey.pem");
}

// What browsers, proxies and people make of a package: each refused before any change. (A
// stale file under the package's SHA256SUMS: the package round trip.)
TEST_F(FailedUpdate, NewFilesThatAreNotThePackagesAreRefused) {
    WriteFileBytes(app / L"data1.bin", "<html><body>502 Bad Gateway</body></html>");
    ExpectFailure("an error page", app / L"data1.bin", false, texts::kNotACertificate);
    WriteFileBytes(app / L"data1.bin", newKey);
    WriteFileBytes(app / L"data2.bin", newCertificate);
    ExpectFailure("swapped", app / L"data1.bin", false, texts::kNotACertificate);
}

TEST_F(FailedUpdate, AKeyOfAnotherPairIsRefused) {
    WriteFileBytes(app / L"data2.bin", SourceFile(L"sample/installed/PrivateKey.pem"));
    ExpectFailure("key of another pair", app / L"data2.bin", false, texts::kKeyMismatch);
    EXPECT_EQ(ReadFileBytes(install / L"PrivateKey.pem"), oldKey);
}

TEST_F(FailedUpdate, PrivateKeyReadOnly) {
    ::SetFileAttributesW((install / L"PrivateKey.pem").c_str(), FILE_ATTRIBUTE_READONLY);
    ExpectFailure("read-only key", install / L"PrivateKey.pem");
    EXPECT_EQ(ReadFileBytes(install / L"PrivateKey.pem"), oldKey);
}

// The product holding its key: the box offers 重試, which replaces the pair once it lets go.
TEST_F(FailedUpdate, PrivateKeyHeldOpenThenLetGo) {
    win32::UniqueFile holder{::CreateFileW((install / L"PrivateKey.pem").c_str(), GENERIC_READ, 0,
                                           nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(holder);
    UpdaterWindow window{app.Executable()};
    ASSERT_TRUE(window.Found());
    window.Click(IDC_COMMAND1);
    ::Sleep(3500);  // within the retries of the key
    EXPECT_EQ(window.SendToWindow(WM_QUERYENDSESSION), FALSE) << "the run makes the end wait";
    const HWND box = window.WaitForErrorBox(kRunTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(::GetDlgItem(box, IDRETRY), nullptr) << "重試";
    EXPECT_NE(window.DialogText(box).find(texts::kCloseProductAndRetry), std::wstring::npos);
    holder.reset();
    ASSERT_TRUE(window.AnswerErrorBox(box, IDRETRY));
    ASSERT_TRUE(window.WaitUntilDone(kDoneRows, kRunTimeoutMs));
    EXPECT_EQ(window.ListItems(IDC_LIST1), kDone);
    ExpectNewPairInstalled(install.Path());
    EXPECT_EQ(window.Close(), 0u);
}

// As readers often open files: sharing everything. NTFS (and Wine) still refuse a rename over an
// open file, so the run must refuse it before any change; 取消 ends it.
TEST_F(FailedUpdate, PrivateKeyHeldOpenSharingEverything) {
    const win32::UniqueFile holder{
        ::CreateFileW((install / L"PrivateKey.pem").c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(holder);
    ExpectFailure("key held open, shared", install / L"PrivateKey.pem", true, texts::kHeldOpen,
                  IDCANCEL);
}

TEST_F(FailedUpdate, HardLinkedPrivateKey) {
    ASSERT_TRUE(::CreateHardLinkW((install / L"key link.pem").c_str(),
                                  (install / L"PrivateKey.pem").c_str(), nullptr));
    ExpectFailure("hard-linked key", install / L"PrivateKey.pem", false, texts::kHardLinkRefused);
    EXPECT_EQ(ReadFileBytes(install / L"PrivateKey.pem"), oldKey);
    EXPECT_EQ(ReadFileBytes(install / L"key link.pem"), oldKey);
}

TEST_F(FailedUpdate, InstallFolderDoesNotExist) {
    SetStringValue(kProductKey, kInstallPathName, install / L"gone");
    ExpectFailure("no such folder", install / L"gone\\Certificate.pem");
}

}  // namespace
}  // namespace kdu::testing
