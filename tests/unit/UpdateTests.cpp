#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "app/Form1.h"
#include "app/QuietRun.h"
#include "app/Texts.h"
#include "tests/unit/Fakes.h"
#include "update/CredentialReplacement.h"

namespace kdu::testing {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kApp = L"C:\\Users\\user\\Downloads";
const std::wstring kInstall = L"C:\\Program Files\\Kestova";
const std::wstring kCertificate = kInstall + L"\\Certificate.pem";
const std::wstring kPrivateKey = kInstall + L"\\PrivateKey.pem";
const std::wstring kCertificateBackup = kCertificate + L"_old";
const std::wstring kPrivateKeyBackup = kPrivateKey + L"_old";
const std::wstring kProgress3{texts::kProgress[2]};

// A deployment beside the exe, a product installed with the old pair, and the window in the
// Ready state.
class Update : public ::testing::Test, protected FakeForm {
protected:
    void SetUp() override {
        files.files = {
            {kApp + L"\\data1.bin", "NEW CERTIFICATE"},
            {kApp + L"\\data2.bin", "NEW KEY"},
            {kApp + L"\\data3.bin", "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\n"},
            {kCertificate, "OLD CERTIFICATE"},
            {kPrivateKey, "OLD KEY"},
        };
        shell.value = kInstall;
        files.readOnly.clear();
        files.locked.clear();
        files.inUse.clear();
        files.busy.clear();
        files.unreadablePermissions.clear();
        files.symbolicLinks.clear();
        files.links.clear();
        files.failAt.clear();
        files.steps = 0;
        pause.total = 0;
    }

    // The 1-based number of a complete run's file step, to fail it by what it does.
    int StepOf(const std::wstring& entry) {
        Journal steps;
        files.journal = &steps;
        Click();
        files.journal = nullptr;
        std::erase_if(steps, [](const std::wstring& step) { return !step.starts_with(L"Files."); });
        const auto found = std::find(steps.begin(), steps.end(), L"Files." + entry);
        EXPECT_NE(found, steps.end()) << "no step " << entry;
        SetUp();
        Restart();
        return static_cast<int>(found - steps.begin()) + 1;
    }

    void Click() {
        form.OnLoad();
        form.OnCommand1Click();
    }

    // The window as a fresh start of the program finds it.
    void Restart() {
        NewForm();
        list1.items.clear();
        list2.items.clear();
        command1.enabled = true;
        errors.shown.clear();
    }

    std::wstring File(const std::wstring& path) const {
        const auto file = files.files.find(path);
        if (file == files.files.end()) return L"(none)";
        return std::wstring(file->second.begin(), file->second.end());
    }

    void ExpectOldPairInstalled() const {
        EXPECT_EQ(File(kCertificate), L"OLD CERTIFICATE");
        EXPECT_EQ(File(kPrivateKey), L"OLD KEY");
    }

    void ExpectNoTemporaryFiles() const {
        for (const auto& [path, content] : files.files) {
            EXPECT_FALSE(path.ends_with(kTemporarySuffix)) << "left behind";
        }
    }

    void ExpectFailureShown() const {
        EXPECT_EQ(errors.shown.size(), 1u);
        ASSERT_FALSE(list1.items.empty());
        EXPECT_EQ(list1.items.back(), L"six");
        EXPECT_EQ(list1.items.size(), 5u) << "three lines, the progress row, line 6";
        EXPECT_FALSE(command1.enabled);
    }

    Journal journal;
};

TEST_F(Update, CompleteRunInstallsTheNewPairAndKeepsTheOld) {
    Click();
    EXPECT_EQ(File(kCertificate), L"NEW CERTIFICATE");
    EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
    EXPECT_EQ(File(kCertificateBackup), L"OLD CERTIFICATE");
    EXPECT_EQ(File(kPrivateKeyBackup), L"OLD KEY");
    EXPECT_EQ(File(kApp + L"\\data1.bin"), L"NEW CERTIFICATE") << "sources stay";
    EXPECT_EQ(list1.items, (Lines{L"one", L"two", L"three", kProgress3, L"four", L"", L"five"}));
    EXPECT_FALSE(command1.enabled);
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_TRUE(form.CertificateReplaced);
    EXPECT_TRUE(form.PrivateKeyReplaced);
    ExpectNoTemporaryFiles();
}

TEST_F(Update, ClickSequenceIsThreeSecondsOfProgressThenCopiesThenRenames) {
    form.OnLoad();
    list1.journal = command1.journal = pause.journal = files.journal = runLock.journal = &journal;
    form.OnCommand1Click();

    const std::wstring temporary{kTemporarySuffix};
    const Lines expected{
        L"List1.Append 更新中...", L"List1.Repaint", L"Sleep 1000",
        L"List1.Replace 3 更新中... ...", L"List1.Repaint", L"Sleep 1000",
        L"List1.Replace 3 更新中... ... ...", L"List1.Repaint", L"Sleep 1000",
        // one copy of the program at a time
        L"RunLock.Acquire",
        // leftovers of an interrupted run
        L"Files.Remove " + kCertificateBackup + temporary,
        L"Files.Remove " + kCertificate + temporary,
        L"Files.Remove " + kPrivateKeyBackup + temporary,
        L"Files.Remove " + kPrivateKey + temporary,
        // what is pending, only reading: what is already new is left alone, and what is not must
        // be a file of its own
        L"Files.SizeOf " + kApp + L"\\data1.bin", L"Files.SizeOf " + kApp + L"\\data2.bin",
        L"Files.SameContent " + kCertificate + L" " + kApp + L"\\data1.bin",
        L"Files.Inspect " + kCertificate,
        L"Files.SameContent " + kPrivateKey + L" " + kApp + L"\\data2.bin",
        L"Files.Inspect " + kPrivateKey,
        // then the files to be written, before the first change
        L"Files.CheckReplaceable " + kCertificate, L"Files.CheckReplaceable " + kPrivateKey,
        // every copy written beside its target before the first rename
        L"Files.CopyToNewFile " + kCertificate + L" " + kCertificateBackup + temporary,
        L"Files.CopyToNewFile " + kApp + L"\\data1.bin " + kCertificate + temporary,
        L"Files.CopyToNewFile " + kPrivateKey + L" " + kPrivateKeyBackup + temporary,
        L"Files.CopyToNewFile " + kApp + L"\\data2.bin " + kPrivateKey + temporary,
        // then the renames, backups first, the pair last
        L"Files.MoveReplacing " + kCertificateBackup + temporary + L" " + kCertificateBackup,
        L"Files.MoveReplacing " + kPrivateKeyBackup + temporary + L" " + kPrivateKeyBackup,
        L"Files.MoveReplacing " + kCertificate + temporary + L" " + kCertificate,
        L"Files.MoveReplacing " + kPrivateKey + temporary + L" " + kPrivateKey,
        // on the disk before the user is told
        L"Files.Flush " + kCertificate, L"Files.Flush " + kPrivateKey, L"RunLock.Release",
        L"List1.Append four", L"List1.Append ", L"List1.Append five", L"Command1.Disable"};
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(pause.total, 3000u);
}

TEST_F(Update, EveryFailingFileStepLeavesTheOldPairAndNoTemporaryFile) {
    Click();
    const int stepsOfACompleteRun = files.steps;
    ASSERT_GT(stepsOfACompleteRun, 10);

    for (int failing = 1; failing <= stepsOfACompleteRun; ++failing) {
        SCOPED_TRACE("failing step " + std::to_string(failing));
        SetUp();
        files.failAt = {failing};
        Restart();
        Click();
        ExpectOldPairInstalled();
        ExpectNoTemporaryFiles();
        ExpectFailureShown();
        EXPECT_FALSE(form.CertificateReplaced);
        // A backup that was written holds the old file, never the new one.
        EXPECT_NE(File(kCertificateBackup), L"NEW CERTIFICATE");
        EXPECT_NE(File(kPrivateKeyBackup), L"NEW KEY");
    }
}

TEST_F(Update, NewFilesAndBackupsAreMadeLikeTheInstalledFiles) {
    files.permissions[kCertificate] = L"everyone reads, hidden";
    files.permissions[kPrivateKey] = L"owner only, system";
    files.encrypted.insert(kPrivateKey);
    files.files[kPrivateKeyBackup] = "OLDER KEY";
    files.permissions[kPrivateKeyBackup] = L"everyone reads";
    Click();
    EXPECT_EQ(files.permissions[kCertificate], L"everyone reads, hidden");
    EXPECT_EQ(files.permissions[kCertificateBackup], L"everyone reads, hidden");
    EXPECT_EQ(files.permissions[kPrivateKey], L"owner only, system");
    EXPECT_EQ(files.permissions[kPrivateKeyBackup], L"owner only, system")
        << "the old key's copy is as protected as the key was";
    EXPECT_EQ(files.encrypted, (std::set<std::wstring>{kPrivateKey, kPrivateKeyBackup}));
}

TEST_F(Update, RerunsKeepThePairFromBeforeTheFirstRun) {
    Click();
    for (int run = 2; run <= 3; ++run) {
        Restart();
        Click();
        EXPECT_EQ(File(kCertificateBackup), L"OLD CERTIFICATE") << "run " << run;
        EXPECT_EQ(File(kPrivateKeyBackup), L"OLD KEY") << "run " << run;
        EXPECT_EQ(File(kCertificate), L"NEW CERTIFICATE");
        EXPECT_EQ(list1.items.size(), 7u) << "closing lines listed on run " << run;
        EXPECT_TRUE(errors.shown.empty());
    }
}

TEST_F(Update, InterruptedRunWithTheNewCertificateBesideTheOldKeyIsCompleted) {
    files.files[kCertificate] = "NEW CERTIFICATE";
    files.files[kCertificateBackup] = "OLD CERTIFICATE";
    files.files[kCertificate + std::wstring{kTemporarySuffix}] = "NEW CERT";  // half written
    Click();
    EXPECT_EQ(File(kCertificateBackup), L"OLD CERTIFICATE");
    EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
    EXPECT_EQ(File(kPrivateKeyBackup), L"OLD KEY");
    ExpectNoTemporaryFiles();
}

TEST_F(Update, RefusedBeforeAnyChange) {
    struct Case {
        const char* name = "";
        void (*arrange)(FakeFileSystem&) = nullptr;
        std::uint32_t code = 0;  // the error shown, where it matters
    };
    const Case cases[] = {
        {"no installed certificate", [](FakeFileSystem& f) { f.files.erase(kCertificate); }},
        {"no installed private key", [](FakeFileSystem& f) { f.files.erase(kPrivateKey); }},
        {"data1.bin missing", [](FakeFileSystem& f) { f.files.erase(kApp + L"\\data1.bin"); }},
        {"data2.bin missing", [](FakeFileSystem& f) { f.files.erase(kApp + L"\\data2.bin"); }},
        {"data1.bin empty", [](FakeFileSystem& f) { f.files[kApp + L"\\data1.bin"] = ""; }},
        {"data2.bin empty", [](FakeFileSystem& f) { f.files[kApp + L"\\data2.bin"] = ""; }},
        {"private key read-only", [](FakeFileSystem& f) { f.readOnly.insert(kPrivateKey); }},
        {"private key held open", [](FakeFileSystem& f) { f.locked.insert(kPrivateKey); }},
        {"backup read-only",
         [](FakeFileSystem& f) {
             f.files[kPrivateKeyBackup] = "OLDER KEY";
             f.readOnly.insert(kPrivateKeyBackup);
         }},
        {"key's permissions unreadable",
         [](FakeFileSystem& f) { f.unreadablePermissions.insert(kPrivateKey); }},
        {"key is a symbolic link", [](FakeFileSystem& f) { f.symbolicLinks.insert(kPrivateKey); },
         kNotSupported},
        {"key has a second hard link", [](FakeFileSystem& f) { f.links[kPrivateKey] = 2; },
         kNotSupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange(files);
        const auto before = files.files;
        Restart();
        Click();
        EXPECT_EQ(files.files, before) << "nothing at all is written";
        ExpectFailureShown();
        if (c.code) {
            EXPECT_EQ(errors.shown[0].Code(), c.code);
            EXPECT_EQ(errors.shown[0].Path(), kPrivateKey);
            EXPECT_FALSE(errors.shown[0].Description().empty()) << "says why";
        }
    }
}

// What Windows does around the run: antivirus, a running product, a leftover that cannot be
// removed.
TEST_F(Update, HoldsUpAgainstWhatHappensAroundIt) {
    const std::wstring temporary{kTemporarySuffix};
    struct Case {
        const char* name = "";
        std::function<void(FakeFileSystem&)> arrange;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"the key held open for a moment, twice",
         [](FakeFileSystem& f) { f.busy[kPrivateKey] = 2; },
         [&] {
             EXPECT_TRUE(errors.shown.empty());
             EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
             EXPECT_EQ(pause.total, 3000u + kRetryPausesMs[0] + kRetryPausesMs[1]);
         }},
        {"a re-run with the unchanged pair held open and a read-only backup",
         [](FakeFileSystem& f) {
             f.files[kCertificate] = "NEW CERTIFICATE";
             f.files[kPrivateKey] = "NEW KEY";
             f.files[kPrivateKeyBackup] = "OLD KEY";
             f.inUse = {kCertificate, kPrivateKey};
             f.readOnly = {kPrivateKeyBackup};
         },
         [&] {
             EXPECT_TRUE(errors.shown.empty());
             EXPECT_EQ(list1.items.size(), 7u) << "the closing lines";
             EXPECT_EQ(File(kPrivateKeyBackup), L"OLD KEY");
         }},
        {"a leftover that cannot be removed does not keep the others",
         [&](FakeFileSystem& f) {
             f.files[kCertificate + temporary] = "LEFTOVER";
             f.files[kPrivateKey + temporary] = "LEFTOVER";
             f.locked = {kCertificate + temporary};
         },
         [&] {
             ASSERT_EQ(errors.shown.size(), 1u);
             EXPECT_EQ(errors.shown[0].Path(), kCertificate + temporary);
             EXPECT_EQ(File(kPrivateKey + temporary), L"(none)");
             ExpectOldPairInstalled();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange(files);
        Restart();
        Click();
        c.check();
    }
}

TEST_F(Update, AnUndoThatFailsIsSaidPlainlyAndTheNextRunCompletesThePair) {
    const int keyRename = StepOf(L"MoveReplacing " + kPrivateKey + std::wstring{kTemporarySuffix} +
                                 L" " + kPrivateKey);
    files.failAt = {keyRename, keyRename + 1};  // the key's rename, then the certificate back
    Click();
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Remark(), kCertificateNewKeyOld);
    EXPECT_EQ(File(kCertificate), L"NEW CERTIFICATE");
    EXPECT_EQ(File(kPrivateKey), L"OLD KEY");
    ExpectFailureShown();

    files.failAt.clear();
    Restart();
    Click();
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
    EXPECT_EQ(File(kCertificateBackup), L"OLD CERTIFICATE");
    EXPECT_EQ(File(kPrivateKeyBackup), L"OLD KEY");
}

TEST_F(Update, AClickWhileTheErrorBoxIsOpenStartsNoSecondRun) {
    files.files.erase(kPrivateKey);
    errors.whileShown = [&] {
        EXPECT_FALSE(command1.enabled) << "disabled before the box shows";
        form.OnCommand1Click();
    };
    Click();
    EXPECT_EQ(errors.shown.size(), 1u);
    ExpectFailureShown();
    EXPECT_EQ(runLock.held, 0);
}

TEST_F(Update, FailureNamesTheFileConcerned) {
    files.files.erase(kPrivateKey);
    Click();
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Code(), kFileNotFound);
    EXPECT_EQ(errors.shown[0].Path(), kPrivateKey);
}

TEST_F(Update, RunningOutOfMemoryIsReportedAndUndone) {
    const std::wstring temporary{kTemporarySuffix};
    const int aCopy = StepOf(L"CopyToNewFile " + kApp + L"\\data1.bin " + kCertificate + temporary);
    const int theKeysRename =
        StepOf(L"MoveReplacing " + kPrivateKey + temporary + L" " + kPrivateKey);
    files.outOfMemory = true;
    for (const int failing : {aCopy, theKeysRename}) {
        SCOPED_TRACE("failing step " + std::to_string(failing));
        SetUp();
        files.failAt = {failing};
        Restart();
        Click();
        ASSERT_EQ(errors.shown.size(), 1u);
        EXPECT_EQ(errors.shown[0].Code(), 14u);  // ERROR_OUTOFMEMORY
        ExpectOldPairInstalled();
        ExpectNoTemporaryFiles();
        ExpectFailureShown();
    }
}

TEST_F(Update, ApplicationFolderMayBeTheInstallFolder) {
    files.executablePath = kInstall + L"\\KestovaDesktopUpdater.exe";
    files.files[kInstall + L"\\data1.bin"] = "NEW CERTIFICATE";
    files.files[kInstall + L"\\data2.bin"] = "NEW KEY";
    files.files[kInstall + L"\\data3.bin"] = files.files[kApp + L"\\data3.bin"];
    Click();
    EXPECT_EQ(File(kCertificate), L"NEW CERTIFICATE");
    EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
    EXPECT_EQ(File(kPrivateKeyBackup), L"OLD KEY");
}

TEST_F(Update, TrailingSeparatorInTheInstallFolderGivesTwoInTheJoin) {
    shell.value = kInstall + L"\\";
    files.files[kInstall + L"\\\\Certificate.pem"] = "OLD CERTIFICATE";
    files.files[kInstall + L"\\\\PrivateKey.pem"] = "OLD KEY";
    Click();
    EXPECT_EQ(File(kInstall + L"\\\\Certificate.pem"), L"NEW CERTIFICATE");
    EXPECT_EQ(File(kInstall + L"\\\\Certificate.pem_old"), L"OLD CERTIFICATE");
    EXPECT_TRUE(errors.shown.empty());
}

// /quiet's outcome as deployment tools read it: 0 only when the pair is the new one.
TEST_F(Update, QuietRunExitCodes) {
    EXPECT_EQ(RunQuietly(files, shell, pause, runLock).exitCode, 0u);
    EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
    SetUp();
    files.failAt = {1};
    files.injectedCode = 0;  // a failure the system gave no number
    EXPECT_EQ(RunQuietly(files, shell, pause, runLock).exitCode, 31u);
    ExpectOldPairInstalled();
    shell.value.reset();
    EXPECT_EQ(RunQuietly(files, shell, pause, runLock).exitCode, kPathNotFound);
}

TEST(CredentialPaths, ArePlainConcatenations) {
    const auto paths =
        ComposePaths(L"E:\\", L"D:\\Kestova\\", L"Certificate.pem", L"PrivateKey.pem");
    EXPECT_EQ(paths.newCertificate, L"E:\\\\data1.bin");
    EXPECT_EQ(paths.newPrivateKey, L"E:\\\\data2.bin");
    EXPECT_EQ(paths.installedCertificate, L"D:\\Kestova\\\\Certificate.pem");
    EXPECT_EQ(paths.certificateBackup, L"D:\\Kestova\\\\Certificate.pem_old");
    EXPECT_EQ(paths.installedPrivateKey, L"D:\\Kestova\\\\PrivateKey.pem");
    EXPECT_EQ(paths.privateKeyBackup, L"D:\\Kestova\\\\PrivateKey.pem_old");
}

TEST(ErrorMessage, GivesNumberDescriptionAndFile) {
    const auto text = ErrorMessageText(SystemError{32, L"In use.", L"C:\\k\\PrivateKey.pem"});
    EXPECT_NE(text.find(L"32 In use."), std::wstring::npos);
    EXPECT_NE(text.find(L"C:\\k\\PrivateKey.pem"), std::wstring::npos);
    const auto hresult = ErrorMessageText(SystemError{0x80070005u, L"Denied."});
    EXPECT_NE(hresult.find(L"0x80070005 Denied."), std::wstring::npos);
    const auto remarked = ErrorMessageText(SystemError{5, L"Denied.", L"C:\\k", L"Run it again."});
    EXPECT_TRUE(remarked.ends_with(L"C:\\k\n\nRun it again.")) << "the remark last";
}

}  // namespace
}  // namespace kdu::testing
