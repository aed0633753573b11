#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <stdexcept>

#include "app/Form1.h"
#include "app/QuietRun.h"
#include "app/Restore.h"
#include "app/Texts.h"
#include "tests/package/TestCredentials.h"
#include "tests/unit/Fakes.h"
#include "tools/package/Package.h"
#include "update/CredentialReplacement.h"
#include "update/Detection.h"
#include "update/PackageCheck.h"
#include "update/PairCheck.h"

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
const std::wstring kData1 = kApp + L"\\data1.bin";
const std::wstring kData2 = kApp + L"\\data2.bin";
const std::wstring kSums = kApp + L"\\SHA256SUMS";

// Real PEM files: the sample deployment's new pair, and the pair it replaces.
const std::string kNewCertificate = SourceFile("sample/deployment/new-cert.pem");
const std::string kNewKey = SourceFile("sample/deployment/new-key.pem");
const std::string kOldCertificate = SourceFile("sample/installed/Certificate.pem");
const std::string kOldKey = SourceFile("sample/installed/PrivateKey.pem");

// Reparse point tags: two that name another file, three that are plain files to the user.
constexpr std::uint32_t kSymbolicLinkTag = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK
constexpr std::uint32_t kMountPointTag = 0xA0000003;    // IO_REPARSE_TAG_MOUNT_POINT (junction)
constexpr std::uint32_t kCloudTag = 0x9000001A;         // IO_REPARSE_TAG_CLOUD_A (OneDrive)
constexpr std::uint32_t kDedupTag = 0x80000013;         // IO_REPARSE_TAG_DEDUP

// A copy of an installed file that a product without a manifest reads instead.
std::wstring VirtualStoreCopyPath(const std::wstring& installed) {
    return L"C:\\Users\\user\\AppData\\Local\\VirtualStore" + installed.substr(2);
}
std::function<void(FakeFileSystem&)> VirtualStoreCopy(const std::wstring& installed) {
    return [installed](FakeFileSystem& f) {
        f.virtualStore[installed] = VirtualStoreCopyPath(installed);
        f.files[VirtualStoreCopyPath(installed)] = "COPY";
    };
}

// SHA256SUMS as the package builder writes it.
const std::wstring kData3 = kApp + L"\\data3.bin";
const std::string kMessages = "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\n";

// The slot of an exe packaged with these data files.
std::string SealedFor(const std::string& data1, const std::string& data2,
                      const std::string& data3 = kMessages) {
    return FilledDigestSlot(
        {package::Sha256Of(data1), package::Sha256Of(data2), package::Sha256Of(data3)});
}

std::string SumsLine(const std::string& content, const std::string& name) {
    return package::Sha256Hex(content) + "  " + name + "\n";
}

// A deployment beside the exe, a product installed with the old pair, and the window in the
// Ready state.
class Update : public ::testing::Test, protected FakeForm {
protected:
    void SetUp() override {
        files.files = {
            {kData1, kNewCertificate},       {kData2, kNewKey},      {kData3, kMessages},
            {kCertificate, kOldCertificate}, {kPrivateKey, kOldKey},
        };
        shell.value = kInstall;
        program.digestSlot = EmptyDigestSlot();
        files.readOnly.clear();
        files.locked.clear();
        files.inUse.clear();
        files.busy.clear();
        files.unreadablePermissions.clear();
        files.reparseTags.clear();
        files.links.clear();
        files.virtualStore.clear();
        files.failAt.clear();
        files.thrown = nullptr;
        files.onStep = nullptr;
        files.steps = 0;
        pause.total = pause.withoutMessages = 0;
        runLock = FakeRunLock{};
        holders = FakeHolders{};
        record = FakeRecord{};
    }

    // The 1-based number of a complete run's file step, to fail it by what it does.
    int StepOf(const std::wstring& entry) {
        Journal steps;
        form.OnLoad();
        files.journal = &steps;
        files.steps = 0;
        form.OnCommand1Click();
        files.journal = nullptr;
        std::erase_if(steps, [](const std::wstring& step) { return !step.starts_with(L"Files."); });
        const auto found = std::find(steps.begin(), steps.end(), L"Files." + entry);
        EXPECT_NE(found, steps.end()) << "no step " << entry;
        SetUp();
        Restart();
        return static_cast<int>(found - steps.begin()) + 1;
    }

    // Faults are injected into the click's file steps, counted from 1.
    void Click() {
        const auto faults = std::exchange(files.failAt, {});
        form.OnLoad();
        files.steps = 0;
        files.failAt = faults;
        form.OnCommand1Click();
    }

    // The window as a fresh start of the program finds it.
    void Restart() {
        NewForm();
        list1.items.clear();
        list1.selected = -1;
        list2.items.clear();
        command1.enabled = true;
        errors.shown.clear();
        errors.asked.clear();
        errors.named.clear();
        errors.retries = 0;
    }

    // A file's content; one of the two pairs by its name.
    std::wstring File(const std::wstring& path) const {
        const auto file = files.files.find(path);
        if (file == files.files.end()) return L"(none)";
        const auto& content = file->second;
        if (content == kNewCertificate) return L"NEW CERTIFICATE";
        if (content == kNewKey) return L"NEW KEY";
        if (content == kOldCertificate) return L"OLD CERTIFICATE";
        if (content == kOldKey) return L"OLD KEY";
        return std::wstring(content.begin(), content.end());
    }

    void ExpectOldPairInstalled() const {
        EXPECT_EQ(File(kCertificate), L"OLD CERTIFICATE");
        EXPECT_EQ(File(kPrivateKey), L"OLD KEY");
    }

    std::size_t FilesInTheInstallFolder() const {
        return std::ranges::count_if(
            files.files, [](const auto& file) { return file.first.starts_with(kInstall); });
    }

    void ExpectNoTemporaryFiles() const {
        for (const auto& [path, content] : files.files) {
            EXPECT_FALSE(path.ends_with(kTemporarySuffix)) << "left behind";
        }
    }

    // Told once, in the error box or in the one that offers 重試 (answered 取消).
    void ExpectFailureShown() const {
        EXPECT_EQ(errors.shown.size() + errors.asked.size(), 1u);
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
    EXPECT_EQ(File(kData1), L"NEW CERTIFICATE") << "sources stay";
    EXPECT_EQ(list1.items, (Lines{L"one", L"two", L"three", kProgress3, L"four", L"", L"five"}));
    EXPECT_EQ(list1.selected, 6) << "the last closing row, which a screen reader says";
    EXPECT_FALSE(command1.enabled);
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_TRUE(form.PairReplaced);
    ExpectNoTemporaryFiles();
}

TEST_F(Update, ClickSequenceIsThreeSecondsOfProgressThenCopiesThenRenames) {
    form.OnLoad();
    list1.journal = command1.journal = pause.journal = files.journal = runLock.journal = &journal;
    form.OnCommand1Click();

    const Lines progress{L"List1.Append 更新中...",
                         L"List1.Repaint",
                         L"Sleep 1000",
                         L"List1.Replace 3 更新中... ...",
                         L"List1.Repaint",
                         L"Sleep 1000",
                         L"List1.Replace 3 更新中... ... ...",
                         L"List1.Repaint",
                         L"Sleep 1000"};
    const Lines closing{L"RunLock.Release", L"List1.Append four", L"List1.Append ",
                        L"List1.Append five", L"Command1.Disable"};
    ASSERT_GT(journal.size(), progress.size() + closing.size());
    EXPECT_EQ(Lines(journal.begin(), journal.begin() + 9), progress);
    EXPECT_EQ(Lines(journal.end() - 5, journal.end()), closing) << "one copy at a time";

    const auto first = [&](const std::wstring& prefix) {
        return std::find_if(journal.begin(), journal.end(),
                            [&](const auto& entry) { return entry.starts_with(prefix); }) -
               journal.begin();
    };
    const auto last = [&](const std::wstring& prefix) {
        return journal.rend() -
               std::find_if(journal.rbegin(), journal.rend(),
                            [&](const auto& e) { return e.starts_with(prefix); }) -
               1;
    };
    const auto count = [&](const std::wstring& prefix) {
        return std::count_if(journal.begin(), journal.end(),
                             [&](const auto& entry) { return entry.starts_with(prefix); });
    };
    const std::wstring temporary{kTemporarySuffix};
    const auto rename = [&](const std::wstring& target) {
        return first(L"Files.RenameOver " + target + temporary + L" " + target);
    };
    const auto firstRename = rename(kCertificateBackup);
    EXPECT_EQ(count(L"Files.ReadAll " + kData1), 1) << "each file read once";
    EXPECT_EQ(std::count(journal.begin(), journal.begin() + firstRename,
                         L"Files.ReadAll " + kCertificate),
              1);
    EXPECT_EQ(count(L"Files.WriteNewFile"), 6) << "four copies, the journal and its end";
    EXPECT_LT(last(L"Files.ReadAll " + kData2),
              first(L"RunLock.Acquire " + kInstall + L"\\KestovaDesktopUpdater.lock"))
        << "the package checked before the lock is waited for";
    EXPECT_LT(first(L"RunLock.Acquire"), first(L"Files.Remove")) << "leftovers under the lock";
    EXPECT_LT(first(L"Files.Remove " + kPrivateKey + temporary),
              first(L"Files.ReadAll " + kCertificate))
        << "leftovers go first";
    EXPECT_LT(last(L"Files.Inspect"), first(L"Files.WriteNewFile")) << "checked before a change";
    EXPECT_LT(last(L"Files.CheckReplaceable"), first(L"Files.WriteNewFile"));
    EXPECT_LT(first(L"Files.WriteNewFile " + kPrivateKey + temporary), firstRename)
        << "copies first";
    EXPECT_LT(first(L"Files.Hold " + kPrivateKey), firstRename)
        << "the installed files held and checked";
    EXPECT_GT(last(L"Files.Remove " + kInstall + L"\\KestovaDesktopUpdater.journal"),
              last(L"Files.Flush " + kPrivateKey))
        << "the journal goes once the pair is on the disk";
    EXPECT_LT(rename(kPrivateKeyBackup), rename(kCertificate)) << "backups before the pair";
    EXPECT_EQ(rename(kCertificate) + 1, rename(kPrivateKey))
        << "the pair, one right after the other";
    EXPECT_LT(rename(kPrivateKey), first(L"Files.Flush " + kCertificate));
    EXPECT_EQ(count(L"Files.Flush " + kCertificate) + count(L"Files.Flush " + kPrivateKey), 2)
        << "on the disk before the user is told";
    EXPECT_EQ(pause.total, 3000u);
}

// Once the pair is in place and flushed, what fails is only the journal's removal: the run has
// succeeded, and the next one removes what stays.
TEST_F(Update, EveryFailingFileStepLeavesTheOldPairAndNoTemporaryFile) {
    const int pairInPlace = StepOf(L"Flush " + kPrivateKey);
    Click();
    const int stepsOfACompleteRun = files.steps;
    ASSERT_GT(stepsOfACompleteRun, 10);

    for (int failing = 1; failing <= stepsOfACompleteRun; ++failing) {
        SCOPED_TRACE("failing step " + std::to_string(failing));
        SetUp();
        files.failAt = {failing};
        Restart();
        Click();
        if (failing > pairInPlace) {
            EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
            files.failAt.clear();
            Restart();
            Click();
            EXPECT_EQ(FilesInTheInstallFolder(), 4u) << "the next run removes what stayed";
            continue;
        }
        ExpectOldPairInstalled();
        ExpectNoTemporaryFiles();
        ExpectFailureShown();
        EXPECT_FALSE(form.PairReplaced);
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
    files.files[kCertificate] = kNewCertificate;
    files.files[kCertificateBackup] = kOldCertificate;
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
        std::function<void(FakeFileSystem&)> arrange;
        Failure kind = Failure::System;  // the failure shown, where it matters
        std::wstring path = {};
    };
    const auto sums = [](FakeFileSystem& f, const std::string& data1, const std::string& data2) {
        f.files[kSums] = SumsLine(data1, "data1.bin") + SumsLine(data2, "data2.bin");
    };
    const std::string html = "<html><body>502 Bad Gateway</body></html>\r\n";
    const std::time_t now = clock.now;
    const auto key = package::testing::NewKey();
    const std::pair expired{package::testing::CertificatePem(key.get(), now, -864000, -86400),
                            package::testing::PrivateKeyPem(key.get())};
    const auto newer = package::testing::CertificatePem(key.get(), now, 86400, 864000);
    const Case cases[] = {
        {"no installed certificate", [](FakeFileSystem& f) { f.files.erase(kCertificate); }},
        {"no installed private key", [](FakeFileSystem& f) { f.files.erase(kPrivateKey); }},
        {"data1.bin empty", [](FakeFileSystem& f) { f.files[kData1] = ""; },
         Failure::NotACertificate, kData1},
        {"data1.bin an error page saved by a proxy",
         [&](FakeFileSystem& f) { f.files[kData1] = html; }, Failure::NotACertificate, kData1},
        {"data1.bin and data2.bin swapped",
         [](FakeFileSystem& f) { std::swap(f.files[kData1], f.files[kData2]); },
         Failure::NotACertificate, kData1},
        {"data2.bin an encrypted key",
         [](FakeFileSystem& f) {
             f.files[kData2] = SourceFile("tests/fixtures/encrypted-key.pem");
         },
         Failure::EncryptedPrivateKey, kData2},
        {"data1.bin stale under the package's SHA256SUMS",
         [&](FakeFileSystem& f) {
             sums(f, kNewCertificate, kNewKey);
             f.files[kData1] = kOldCertificate;
         },
         Failure::NotInPackage, kData1},
        {"SHA256SUMS without a line for data2.bin",
         [](FakeFileSystem& f) { f.files[kSums] = SumsLine(kNewCertificate, "data1.bin"); },
         Failure::NotInPackage, kData2},
        {"SHA256SUMS malformed", [&](FakeFileSystem& f) { f.files[kSums] = html; },
         Failure::ChecksumsMalformed, kSums},
        {"another pair, with SHA256SUMS rewritten, where the exe carries the digests",
         [&](FakeFileSystem& f) {
             program.digestSlot = SealedFor(kNewCertificate, kNewKey);
             std::tie(f.files[kData1], f.files[kData2]) = std::pair{kOldCertificate, kOldKey};
             sums(f, kOldCertificate, kOldKey);
         },
         Failure::ChangedAfterPackaging, kData1},
        {"private key read-only", [](FakeFileSystem& f) { f.readOnly.insert(kPrivateKey); }},
        {"private key held open", [](FakeFileSystem& f) { f.locked.insert(kPrivateKey); }},
        {"backup read-only",
         [](FakeFileSystem& f) {
             f.files[kPrivateKeyBackup] = "OLDER KEY";
             f.readOnly.insert(kPrivateKeyBackup);
         }},
        {"key's permissions unreadable",
         [](FakeFileSystem& f) { f.unreadablePermissions.insert(kPrivateKey); }},
        {"key is a symbolic link",
         [](FakeFileSystem& f) { f.reparseTags[kPrivateKey] = kSymbolicLinkTag; },
         Failure::SymbolicLink, kPrivateKey},
        {"certificate is a junction",
         [](FakeFileSystem& f) { f.reparseTags[kCertificate] = kMountPointTag; },
         Failure::SymbolicLink, kCertificate},
        {"data2.bin the key of another pair", [](FakeFileSystem& f) { f.files[kData2] = kOldKey; },
         Failure::KeyMismatch, kData2},
        {"data1.bin expired",
         [&](FakeFileSystem& f) { std::tie(f.files[kData1], f.files[kData2]) = expired; },
         Failure::CertificateExpired, kData1},
        {"an installed certificate newer than data1.bin",
         [&](FakeFileSystem& f) { f.files[kCertificate] = newer; }, Failure::NewerInstalled,
         kCertificate},
        {"data1.bin larger than any certificate",
         [](FakeFileSystem& f) { f.files[kData1] = std::string(kLargestFileRead + 1, 'A'); },
         Failure::NotACertificate, kData1},
        {"key has a second hard link", [](FakeFileSystem& f) { f.links[kPrivateKey] = 2; },
         Failure::HardLink, kPrivateKey},
        {"a VirtualStore copy of the certificate", VirtualStoreCopy(kCertificate),
         Failure::VirtualStoreCopy, VirtualStoreCopyPath(kCertificate)},
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
        if (!c.path.empty()) {
            EXPECT_EQ(errors.shown[0].Kind(), c.kind);
            EXPECT_EQ(errors.shown[0].Path(), c.path);
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
    const auto key = package::testing::NewKey();
    const std::pair notYetValid{
        package::testing::CertificatePem(key.get(), clock.now, 86400, 864000),
        package::testing::PrivateKeyPem(key.get())};
    constexpr std::time_t kNewCertificateNotBefore = 1796630472;  // 2026-12-07 08:01:12
    const auto sameAge =
        package::testing::CertificatePem(key.get(), kNewCertificateNotBefore, 0, 864000);
    const auto atStep = [&](const std::wstring& step, const std::function<void()>& happening) {
        files.onStep = [=](const std::wstring& now) {
            if (now.starts_with(step)) happening();
        };
    };
    const Case cases[] = {
        {"a OneDrive placeholder certificate and a deduplicated key: plain files",
         [](FakeFileSystem& f) {
             f.reparseTags = {{kCertificate, kCloudTag}, {kPrivateKey, kDedupTag}};
         },
         [&] {
             EXPECT_TRUE(errors.shown.empty());
             EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
         }},
        {"antivirus opens the new key for good the moment it is in place",
         [&](FakeFileSystem& f) {
             atStep(L"Flush " + kPrivateKey, [&f] { f.locked.insert(kPrivateKey); });
         },
         [&] {
             EXPECT_TRUE(errors.shown.empty()) << "a finished replacement is not undone";
             EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
         }},
        {"a file put under a temporary name after the clean-up is not this run's to delete",
         [&](FakeFileSystem& f) {
             atStep(L"ReadAll " + kCertificate,
                    [&f, temporary] { f.files[kPrivateKey + temporary] = "PLANTED"; });
         },
         [&] {
             ASSERT_EQ(errors.shown.size(), 1u);
             EXPECT_EQ(File(kPrivateKey + temporary), L"PLANTED");
             EXPECT_EQ(File(kCertificate + temporary), L"(none)") << "its own file is gone";
             ExpectOldPairInstalled();
         }},
        {"a certificate not yet valid, made ahead of a roll-out, over a damaged installed one",
         [&](FakeFileSystem& f) {
             std::tie(f.files[kData1], f.files[kData2]) = notYetValid;
             f.files[kCertificate] = "damaged";
         },
         [&] {
             EXPECT_TRUE(errors.shown.empty());
             EXPECT_EQ(files.files[kCertificate], notYetValid.first);
         }},
        {"an installed certificate as old as data1.bin",
         [&](FakeFileSystem& f) { f.files[kCertificate] = sameAge; },
         [&] { EXPECT_TRUE(errors.shown.empty()); }},
        {"access denied for a moment, as to a file being scanned or deleted",
         [&](FakeFileSystem& f) {
             Restart();
             const int step = StepOf(L"CheckReplaceable " + kPrivateKey);
             f.thrown = std::make_exception_ptr(SystemError{kAccessDenied, L"", kPrivateKey});
             f.failAt = {step};
         },
         [&] {
             EXPECT_TRUE(errors.shown.empty()) << "tried again";
             EXPECT_EQ(pause.total, 3000u + kRetryPausesMs[0]);
         }},
        {"the key held open for a moment, twice",
         [](FakeFileSystem& f) { f.busy[kPrivateKey] = 2; },
         [&] {
             EXPECT_TRUE(errors.shown.empty());
             EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
             EXPECT_EQ(pause.total, 3000u + kRetryPausesMs[0] + kRetryPausesMs[1]);
         }},
        {"the certificate opened for a moment as it is renamed over: tried again, no message "
         "handled",
         [&](FakeFileSystem& f) {
             atStep(L"RenameOver " + kPrivateKeyBackup, [&f] { f.busy[kCertificate] = 1; });
         },
         [&] {
             EXPECT_TRUE(errors.shown.empty() && errors.asked.empty());
             EXPECT_EQ(pause.withoutMessages, kRetryPausesMs[0]);
             EXPECT_EQ(pause.total, 3000u + kRetryPausesMs[0]);
         }},
        {"a re-run with the unchanged pair held open and a read-only backup",
         [](FakeFileSystem& f) {
             f.files[kCertificate] = kNewCertificate;
             f.files[kPrivateKey] = kNewKey;
             f.files[kPrivateKeyBackup] = kOldKey;
             f.inUse = {kCertificate, kPrivateKey};
             f.readOnly = {kPrivateKeyBackup};
         },
         [&] {
             EXPECT_TRUE(errors.shown.empty());
             EXPECT_EQ(list1.items.size(), 7u) << "the closing lines";
             EXPECT_EQ(File(kPrivateKeyBackup), L"OLD KEY");
         }},
        {"the package's SHA256SUMS, with CR LF, a name in capitals and other files' lines",
         [](FakeFileSystem& f) {
             f.files[kSums] = SumsLine("exe", "KestovaDesktopUpdater.exe") +
                              SumsLine(kNewCertificate, "DATA1.BIN") + "\r\n" +
                              SumsLine(kNewKey, "data2.bin");
         },
         [&] {
             EXPECT_TRUE(errors.shown.empty());
             EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
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

// One run at a time per install folder: another run's lock is waited for, then refused; a folder
// that denies the lock file is refused unless the pair is already the new one.
TEST_F(Update, AnotherRunsLockIsWaitedForThenRefused) {
    runLock.heldByAnother = 3;
    Click();
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(pause.total, 3000u + 3 * kLockPollMs);
    EXPECT_EQ(File(kPrivateKey), L"NEW KEY");

    SetUp();
    runLock.heldByAnother = 1000;
    const auto before = files.files;
    Restart();
    Click();
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Kind(), Failure::AnotherRun);
    EXPECT_EQ(pause.total, 3000u + kLockWaitMs) << "30 seconds, no more";
    EXPECT_EQ(files.files, before);

    for (const bool alreadyNew : {false, true}) {
        SetUp();
        runLock.denied = true;
        if (alreadyNew) files.files[kCertificate] = kNewCertificate;
        if (alreadyNew) files.files[kPrivateKey] = kNewKey;
        const auto unchanged = files.files;
        Restart();
        Click();
        EXPECT_EQ(errors.shown.empty(), alreadyNew);
        EXPECT_EQ(files.files, unchanged);
    }
    EXPECT_EQ(runLock.held, 0);
}

// A program that has the pair open is named where Restart Manager can tell; the window offers
// 重試, /quiet exits 1618, and with /closeapps the holder is closed and started again.
TEST_F(Update, AProgramThatHasThePairOpenIsNamedAndMayBeClosed) {
    const FileHolder product{L"KestovaDesktop", 4321};
    const std::wstring named = L"KestovaDesktop（處理程序識別碼 4321）";
    // The key's rename meets the product, which opens the key as the certificate is renamed: it
    // is tried once, the certificate is put back, and the box asks.
    holders.holders = {product};
    files.onStep = [&, once = true](const std::wstring& step) mutable {
        if (!once || !step.starts_with(L"RenameOver " + kCertificate + kTemporarySuffix.data()))
            return;
        files.busy[kPrivateKey] = 1;
        once = false;
    };
    errors.retries = 1;
    errors.whileShown = [&] {
        EXPECT_FALSE(shutdownBlock.blocked) << "the end of the session waits for no box";
        ExpectOldPairInstalled();
        files.onStep = nullptr;  // the product lets go
        files.busy.clear();
    };
    Click();
    ASSERT_EQ(errors.asked.size(), 1u);
    EXPECT_EQ(errors.asked[0].Kind(), Failure::HeldOpen);
    EXPECT_EQ(errors.asked[0].Path(), kPrivateKey);
    EXPECT_NE(errors.asked[0].Description().find(named), std::wstring::npos);
    EXPECT_TRUE(errors.named[0]);
    EXPECT_EQ(holders.found,
              (Lines{kCertificate, kCertificateBackup, kPrivateKey, kPrivateKeyBackup}));
    EXPECT_EQ(list1.items.size(), 7u) << "重試 ends as a complete run";
    EXPECT_EQ(pause.total, 3000u) << "no second progress, and no retry of the key's rename";
    EXPECT_EQ(form.ExitCode(), 0u);
    EXPECT_EQ(shutdownBlock.runs, 2);

    // Nobody named; 取消.
    SetUp();
    files.locked = {kPrivateKey};
    const auto before = files.files;
    Restart();
    Click();
    ExpectFailureShown();
    EXPECT_FALSE(errors.named.at(0));
    EXPECT_EQ(form.ExitCode(), kInstallAlreadyRunning);
    EXPECT_EQ(files.files, before);

    // /quiet names the holder; with /closeapps it is closed, or it does not close.
    for (const bool closes : {false, true}) {
        for (const bool closeApps : {false, true}) {
            SCOPED_TRACE(std::string{closeApps ? "/closeapps, " : ""} +
                         (closes ? "closes" : "stays"));
            SetUp();
            files.locked = {kPrivateKey};
            holders.holders = {product};
            if (closes) holders.close = [&] { files.locked.clear(); };
            const auto outcome = RunQuietly(services, closeApps);
            const auto line = QuietLogLine(L"", outcome);
            const bool replaced = closes && closeApps;
            EXPECT_EQ(ExitCode(outcome), replaced ? 0u : kInstallAlreadyRunning);
            EXPECT_EQ(File(kPrivateKey), replaced ? L"NEW KEY" : L"OLD KEY");
            EXPECT_NE(line.find(replaced ? L"KestovaDesktop, process 4321" : named),
                      std::wstring::npos)
                << line;
            EXPECT_EQ(holders.asked, closeApps);
            EXPECT_EQ(holders.restarted, closeApps) << "what closed is started again";
        }
    }
}

// Two faults in one run: the key's rename fails, then the disk is full. What could not be put
// back is said (the mixed pair, or the backup and what it holds), and the next run mends it.
TEST_F(Update, AnUndoThatFailsIsSaidPlainlyAndTheNextRunCompletesThePair) {
    const std::wstring temporary{kTemporarySuffix};
    const auto withOlderBackups = [&] {
        files.files[kCertificateBackup] = "OLDER CERTIFICATE";
        files.files[kPrivateKeyBackup] = "OLDER KEY";
    };
    withOlderBackups();
    const int keyRename = StepOf(L"RenameOver " + kPrivateKey + temporary + L" " + kPrivateKey);
    for (const auto& [full, remark] :
         {std::pair{kCertificate, std::wstring{kCertificateNewKeyOld}},
          std::pair{kCertificateBackup, std::wstring{kBackupNotPutBack} + kCertificateBackup}}) {
        SetUp();
        withOlderBackups();
        Restart();
        files.failAt = {keyRename};
        files.onStep = [&, target = full](const std::wstring& step) {
            if (files.steps >= keyRename && step.starts_with(L"WriteNewFile " + target)) {
                throw SystemError{112, L"disk full", step};
            }
        };
        Click();
        ASSERT_EQ(errors.shown.size(), 1u);
        EXPECT_TRUE(errors.shown[0].Remark().starts_with(remark)) << errors.shown[0].Remark();
        EXPECT_FALSE(record.value) << "a pair that may be mixed is never detected";

        files.onStep = nullptr;
        files.failAt.clear();
        Restart();
        Click();
        EXPECT_TRUE(errors.shown.empty());
        EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
        EXPECT_EQ(File(kCertificateBackup), L"OLD CERTIFICATE");
        EXPECT_EQ(File(kPrivateKeyBackup), L"OLD KEY");
        EXPECT_EQ(FilesInTheInstallFolder(), 4u);
    }
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

// Running out of memory is told as that; any other exception as what it says, not as a lack of
// memory. Either way the run is undone.
TEST_F(Update, ExceptionsAreReportedAsWhatTheyAreAndUndone) {
    const std::wstring temporary{kTemporarySuffix};
    const int aCopy = StepOf(L"WriteNewFile " + kCertificate + temporary);
    const int theKeysRename = StepOf(L"RenameOver " + kPrivateKey + temporary + L" " + kPrivateKey);
    const std::pair<std::exception_ptr, Failure> exceptions[] = {
        {std::make_exception_ptr(std::bad_alloc{}), Failure::OutOfMemory},
        {std::make_exception_ptr(std::length_error{"vector too long"}), Failure::Internal},
    };
    for (const auto& [exception, kind] : exceptions) {
        for (const int failing : {aCopy, theKeysRename}) {
            SCOPED_TRACE("failing step " + std::to_string(failing));
            SetUp();
            files.failAt = {failing};
            files.thrown = exception;
            Restart();
            Click();
            ASSERT_EQ(errors.shown.size(), 1u);
            EXPECT_EQ(errors.shown[0].Kind(), kind);
            EXPECT_EQ(errors.shown[0].Description(),
                      kind == Failure::Internal ? L"vector too long" : L"");
            ExpectOldPairInstalled();
            ExpectNoTemporaryFiles();
            ExpectFailureShown();
        }
    }
}

TEST_F(Update, ApplicationFolderMayBeTheInstallFolder) {
    program.path = kInstall + L"\\KestovaDesktopUpdater.exe";
    files.files[kInstall + L"\\data1.bin"] = kNewCertificate;
    files.files[kInstall + L"\\data2.bin"] = kNewKey;
    files.files[kInstall + L"\\data3.bin"] = files.files[kApp + L"\\data3.bin"];
    Click();
    EXPECT_EQ(File(kCertificate), L"NEW CERTIFICATE");
    EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
    EXPECT_EQ(File(kPrivateKeyBackup), L"OLD KEY");
}

TEST_F(Update, TrailingSeparatorInTheInstallFolderGivesTwoInTheJoin) {
    shell.value = kInstall + L"\\";
    files.files[kInstall + L"\\\\Certificate.pem"] = kOldCertificate;
    files.files[kInstall + L"\\\\PrivateKey.pem"] = kOldKey;
    Click();
    EXPECT_EQ(File(kInstall + L"\\\\Certificate.pem"), L"NEW CERTIFICATE");
    EXPECT_EQ(File(kInstall + L"\\\\Certificate.pem_old"), L"OLD CERTIFICATE");
    EXPECT_TRUE(errors.shown.empty());
}

// /quiet's outcome as deployment tools read it: 0 only when the pair is the new one.
TEST_F(Update, QuietRunExitCodes) {
    for (const auto* outcome : {L"\treplaced\t0", L"\talready current\t0"}) {
        const auto run = RunQuietly(services);
        EXPECT_EQ(ExitCode(run), 0u);
        EXPECT_NE(QuietLogLine(L"", run).find(outcome), std::wstring::npos) << "the log tells";
        EXPECT_EQ(record.value, DetectionVersionOf(kNewCertificate)) << "detected";
    }
    EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
    // A newer pair installed: refused as newer, and detected as this package's would be.
    SetUp();
    const auto key = package::testing::NewKey();
    files.files[kCertificate] =
        package::testing::CertificatePem(key.get(), clock.now, 86400, 8640000);
    EXPECT_EQ(ExitCode(RunQuietly(services)), kProductVersion);
    EXPECT_EQ(record.value, DetectionVersionOf(files.files[kCertificate]));
    SetUp();
    files.failAt = {1};
    files.injectedCode = 0;  // a failure the system gave no number
    EXPECT_EQ(ExitCode(RunQuietly(services)), 31u);
    ExpectOldPairInstalled();
    SetUp();
    files.files.erase(kData2);  // the window says so at start-up; /quiet has only this
    EXPECT_EQ(ExitCode(RunQuietly(services)), kInstallSourceAbsent);
    ExpectOldPairInstalled();
    // The digests the exe carries stand for the package: SHA256SUMS is not read, and the
    // message file must be the one packaged.
    SetUp();
    program.digestSlot = SealedFor(kNewCertificate, kNewKey);
    files.files[kSums] = "not a list";
    files.files[kData3] = "OTHER LINES";
    EXPECT_EQ(RunQuietly(services).error->Kind(), Failure::ChangedAfterPackaging);
    ExpectOldPairInstalled();
    files.files[kData3] = kMessages;
    program.digestSlot = EmptyDigestSlot().replace(20, 1, "\x01");  // a format of no build
    EXPECT_EQ(RunQuietly(services).error->Kind(), Failure::ChecksumsMalformed);
    program.digestSlot = SealedFor(kNewCertificate, kNewKey);
    EXPECT_EQ(ExitCode(RunQuietly(services)), 0u);
    EXPECT_EQ(File(kPrivateKey), L"NEW KEY");
    shell.value.reset();
    EXPECT_EQ(ExitCode(RunQuietly(services)), kUnknownProduct);
}

// The product after an update: the new pair installed, the old one in the backups.
class Restore : public Update {
protected:
    void SetUp() override {
        Update::SetUp();
        files.files[kCertificate] = kNewCertificate;
        files.files[kPrivateKey] = kNewKey;
        files.files[kCertificateBackup] = kOldCertificate;
        files.files[kPrivateKeyBackup] = kOldKey;
    }
    QuietOutcome Run() {
        files.steps = 0;
        return RestoreQuietly(services);
    }
    // The installed pair, then the backups.
    Lines State() const {
        return {File(kCertificate), File(kPrivateKey), File(kCertificateBackup),
                File(kPrivateKeyBackup)};
    }
    // Whether every content of both pairs is in the install folder, under any name.
    bool NothingLost() const {
        return std::ranges::all_of(
            std::array{&kNewCertificate, &kNewKey, &kOldCertificate, &kOldKey}, [&](auto content) {
                return std::ranges::any_of(files.files, [&](const auto& file) {
                    return file.first.starts_with(kInstall) && file.second == *content;
                });
            });
    }
};
const Lines kNewInstalled{L"NEW CERTIFICATE", L"NEW KEY", L"OLD CERTIFICATE", L"OLD KEY"};
const Lines kOldInstalled{L"OLD CERTIFICATE", L"OLD KEY", L"NEW CERTIFICATE", L"NEW KEY"};

TEST_F(Restore, SwapsBackAndForthAndAFailingStepLeavesThePairAsItWas) {
    const auto restored = Run();
    EXPECT_FALSE(restored.error);
    EXPECT_NE(QuietLogLine(L"", restored).find(L"\trestored\t0"), std::wstring::npos);
    EXPECT_EQ(State(), kOldInstalled);
    EXPECT_FALSE(Run().error);
    EXPECT_EQ(State(), kNewInstalled);
    EXPECT_EQ(FilesInTheInstallFolder(), 4u);
    const int steps = files.steps;

    for (int failing = 1; failing <= steps; ++failing) {
        SCOPED_TRACE("failing step " + std::to_string(failing));
        SetUp();
        files.failAt = {failing};
        const bool failed = Run().error.has_value();
        files.failAt.clear();
        // Only removing the staged copies (the next one removes them) or reading the pair for the
        // detection record may fail without failing the restore.
        EXPECT_EQ(State(), failed ? kNewInstalled : kOldInstalled);
        if (failed) {
            EXPECT_EQ(FilesInTheInstallFolder(), 4u);
        }

        ExpectNoTemporaryFiles();
        if (!failed) {
            EXPECT_FALSE(Run().error);
        }
        EXPECT_EQ(FilesInTheInstallFolder(), 4u);
    }
}

// A kill before any one step: every content stays in the folder, and what runs next, a restore
// or an update, leaves two whole pairs.
TEST_F(Restore, KilledAtAnyStepLosesNothingAndTheNextRunCompletesTheSwap) {
    Run();
    const int steps = files.steps;
    for (int killed = 1; killed <= steps; ++killed) {
        for (const bool updateNext : {false, true}) {
            SCOPED_TRACE("killed before step " + std::to_string(killed) +
                         (updateNext ? ", then an update" : ", then a restore"));
            SetUp();
            std::map<std::wstring, Bytes> left;
            files.onStep = [&](const std::wstring&) {
                if (files.steps + 1 == killed) left = files.files;
            };
            Run();
            files.onStep = nullptr;
            files.files = left;
            EXPECT_TRUE(NothingLost());
            if (updateNext) {
                Restart();
                Click();
                EXPECT_TRUE(errors.shown.empty());
                EXPECT_EQ(State(), kNewInstalled);
            } else {
                EXPECT_FALSE(Run().error);
                EXPECT_TRUE(State() == kNewInstalled || State() == kOldInstalled);
            }
            EXPECT_EQ(FilesInTheInstallFolder(), 4u);
        }
    }
}

TEST_F(Restore, RefusedWithNothingChanged) {
    struct Case {
        const char* name;
        std::function<void(FakeFileSystem&)> arrange;
        Failure kind;
        std::wstring path;
    };
    const std::pair expired{SourceFile("tests/fixtures/expired-cert.pem"),
                            SourceFile("tests/fixtures/expired-key.pem")};
    const Case cases[] = {
        {"no certificate backup", [](FakeFileSystem& f) { f.files.erase(kCertificateBackup); },
         Failure::NoBackup, kCertificateBackup},
        {"no key backup", [](FakeFileSystem& f) { f.files.erase(kPrivateKeyBackup); },
         Failure::NoBackup, kPrivateKeyBackup},
        {"certificate backup not a certificate",
         [](FakeFileSystem& f) { f.files[kCertificateBackup] = kOldKey; }, Failure::BackupNotAPair,
         kCertificateBackup},
        {"key backup of another pair",
         [](FakeFileSystem& f) { f.files[kPrivateKeyBackup] = kNewKey; }, Failure::BackupNotAPair,
         kPrivateKeyBackup},
        {"backup expired",
         [&](FakeFileSystem& f) {
             std::tie(f.files[kCertificateBackup], f.files[kPrivateKeyBackup]) = expired;
         },
         Failure::BackupExpired, kCertificateBackup},
        {"key backup read-only", [](FakeFileSystem& f) { f.readOnly.insert(kPrivateKeyBackup); },
         Failure::System, kPrivateKeyBackup},
        {"a VirtualStore copy of the key", VirtualStoreCopy(kPrivateKey), Failure::VirtualStoreCopy,
         VirtualStoreCopyPath(kPrivateKey)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange(files);
        const auto before = files.files;
        const auto outcome = Run();
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->Kind(), c.kind);
        EXPECT_EQ(outcome.error->Path(), c.path);
        EXPECT_EQ(files.files, before);
    }
    // Backups that hold the installed pair: nothing to swap, and said so.
    SetUp();
    files.files[kCertificateBackup] = kNewCertificate;
    files.files[kPrivateKeyBackup] = kNewKey;
    const auto same = Run();
    EXPECT_EQ(ExitCode(same), 0u);
    EXPECT_NE(QuietLogLine(L"", same).find(L"\tnothing to swap\t0"), std::wstring::npos);
    shell.value.reset();
    EXPECT_EQ(ExitCode(Run()), kUnknownProduct);
}

// /uninstall puts back the pair from before this package only where this package's pair is
// installed, once however often it runs, and detection then finds the package gone.
TEST_F(Restore, UninstallPutsBackThePairFromBeforeOnlyOverThisPackagesPair) {
    for (const auto* said : {L"\tuninstalled\t0", L"\tnothing to undo\t0"}) {
        const auto outcome = UninstallQuietly(services);
        EXPECT_NE(QuietLogLine(L"", outcome).find(said), std::wstring::npos);
        EXPECT_EQ(State(), kOldInstalled);
    }
    EXPECT_EQ(record.value, DetectionVersionOf(kOldCertificate));
    files.files.erase(kData2);
    EXPECT_EQ(ExitCode(UninstallQuietly(services)), kInstallSourceAbsent);
}

// The window form: a question with both certificates' dates, or the error box instead.
TEST_F(Restore, AsksFirstAndNoChangesNothing) {
    struct Dialogs : RestoreDialogs {
        bool Confirm(std::wstring_view question) override {
            asked = question;
            return yes;
        }
        void Inform(std::wstring_view text) override { told = text; }
        void ShowError(const SystemError& error, const std::wstring&) override {
            shown.push_back(error);
        }
        bool yes = false;
        std::wstring asked, told;
        std::vector<SystemError> shown;
    };
    // A backup pair valid from other dates than the installed one.
    const auto key = package::testing::NewKey();
    files.files[kCertificateBackup] =
        package::testing::CertificatePem(key.get(), clock.now, -864000, 8640000);
    files.files[kPrivateKeyBackup] = package::testing::PrivateKeyPem(key.get());
    const auto backups = files.files;
    Dialogs no;
    EXPECT_EQ(ExitCode(RestoreWithQuestion(services, no)), kCancelled);
    EXPECT_EQ(files.files, backups);
    const auto dates = [](const std::string& pem) {
        const auto leaf = ReadLeafCertificate(pem);
        return DateText(leaf->notBefore) + texts::kUntil.data() + DateText(leaf->notAfter);
    };
    for (const auto& [label, pem] :
         {std::pair{texts::kInstalledCertificate, kNewCertificate},
          std::pair{texts::kCertificateToPutBack, files.files[kCertificateBackup]}}) {
        EXPECT_NE(no.asked.find(label.data() + dates(pem)), std::wstring::npos) << no.asked;
    }

    Dialogs yes;
    yes.yes = true;
    EXPECT_EQ(ExitCode(RestoreWithQuestion(services, yes)), 0u);
    EXPECT_EQ(files.files[kCertificate], backups.at(kCertificateBackup));
    EXPECT_EQ(File(kCertificateBackup), L"NEW CERTIFICATE");
    EXPECT_EQ(yes.told, texts::kRestored);

    files.files.erase(kPrivateKeyBackup);
    Dialogs refused;
    RestoreWithQuestion(services, refused);
    EXPECT_TRUE(refused.asked.empty());
    EXPECT_EQ(refused.shown.size(), 1u);
}

}  // namespace
}  // namespace kdu::testing
