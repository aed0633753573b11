// Killed at any moment of the update, the program loses nothing: the real exe replaces a large
// pair and is ended with TerminateProcess at random moments of the replacement; after each kill
// every file holds one whole legitimate content, and the next run completes the update. Every
// other kill comes right after the window has answered the end of the session, and must never
// leave the certificate and key from different pairs.
//
// KDU_KILLS (default 10), KDU_KILL_MEGABYTES (size of each file, default 50, at most 60: the
// program reads each file whole, up to 64 MiB) and KDU_KILL_SEED (default: from the clock)
// choose the run; the seed is printed so that a run can be repeated.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "app/Texts.h"
#include "resources/resource.h"
#include "tests/e2e/UpdaterDriver.h"
#include "update/CredentialReplacement.h"

namespace kdu::testing {
namespace {

constexpr DWORD kRunTimeoutMs = 120000;

unsigned EnvironmentNumber(const wchar_t* name, unsigned fallback) {
    const auto text = Environment(name);
    return text.empty() ? fallback : static_cast<unsigned>(std::stoul(text));
}

// What a file holds after a kill, named after the content it matches.
std::string Identify(const std::wstring& path,
                     const std::map<std::string, const std::string*>& allowed) {
    if (!FileExists(path)) return "absent";
    const auto bytes = ReadFileBytes(path);
    for (const auto& [name, content] : allowed) {
        if (bytes == *content) return name;
    }
    return "FOREIGN (" + std::to_string(bytes.size()) + " bytes)";
}

class KillDuringUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        std::mt19937_64 random{42};
        const std::size_t size =
            std::size_t{std::min(EnvironmentNumber(L"KDU_KILL_MEGABYTES", 50), 60u)} << 20;
        // Sizes differ a little, so a prefix of one content is never another.
        oldCertificate = RandomBytes(size, random());
        oldKey = RandomBytes(size - 4096, random());
        newCertificate = SamplePair(size + 4096).certificate;
        newKey = SamplePair(size - 8192).key;
        WriteFileBytes(app / L"data1.bin", newCertificate);
        WriteFileBytes(app / L"data2.bin", newKey);
        app.WriteMessages("one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\n");
        SetStringValue(kProductKey, kInstallPathName, install.Path());
    }
    void TearDown() override { DeleteValue(kProductKey, kInstallPathName); }

    std::wstring Installed(std::wstring_view name) const { return install / name; }

    void InstallOldPair() const {
        for (const auto* name : {L"Certificate.pem_old", L"PrivateKey.pem_old"}) {
            ::DeleteFileW(Installed(name).c_str());
        }
        for (const auto& name : FileNames(install.Path())) {
            if (name.ends_with(L".tmp")) ::DeleteFileW(Installed(name).c_str());
        }
        WriteFileBytes(Installed(L"Certificate.pem"), oldCertificate);
        WriteFileBytes(Installed(L"PrivateKey.pem"), oldKey);
    }

    // Presses the button; the milliseconds from the click until the closing lines show.
    ULONGLONG RunToTheEnd() const {
        UpdaterWindow window{app.Executable()};
        if (!window.Found()) return 0;
        const auto clicked = ::GetTickCount64();
        window.Click(IDC_COMMAND1);
        EXPECT_TRUE(window.WaitUntilDone(kDoneRows, kRunTimeoutMs));
        const auto took = ::GetTickCount64() - clicked;
        EXPECT_EQ(window.WaitForErrorBox(0), nullptr);
        EXPECT_EQ(window.ListItems(IDC_LIST1).size(), 7U) << "the closing lines";
        return took;
    }

    // Checks the four files after a kill; describes the moment it landed in.
    std::string CheckAfterKill() const {
        const auto certificate = Identify(Installed(L"Certificate.pem"),
                                          {{"old", &oldCertificate}, {"new", &newCertificate}});
        const auto key =
            Identify(Installed(L"PrivateKey.pem"), {{"old", &oldKey}, {"new", &newKey}});
        const auto certificateBackup =
            Identify(Installed(L"Certificate.pem_old"), {{"old", &oldCertificate}});
        const auto keyBackup = Identify(Installed(L"PrivateKey.pem_old"), {{"old", &oldKey}});
        EXPECT_TRUE(certificate == "old" || certificate == "new") << certificate;
        EXPECT_TRUE(key == "old" || key == "new") << key;
        EXPECT_TRUE(certificateBackup == "old" || certificateBackup == "absent")
            << certificateBackup;
        EXPECT_TRUE(keyBackup == "old" || keyBackup == "absent") << keyBackup;
        if (certificate == "new" && key == "old") ++mixedPairs;

        std::string moment = "cert " + certificate + ", key " + key + ", cert_old " +
                             certificateBackup + ", key_old " + keyBackup;
        if (FileExists(Installed(kLockFile))) ++leftLocks;
        for (const auto& name : FileNames(install.Path())) {
            if (name.ends_with(L".tmp")) moment += ", " + std::string(name.begin(), name.end());
        }
        return moment;
    }

    void CheckCompleted() const {
        EXPECT_EQ(ReadFileBytes(Installed(L"Certificate.pem")), newCertificate);
        EXPECT_EQ(ReadFileBytes(Installed(L"PrivateKey.pem")), newKey);
        EXPECT_EQ(ReadFileBytes(Installed(L"Certificate.pem_old")), oldCertificate);
        EXPECT_EQ(ReadFileBytes(Installed(L"PrivateKey.pem_old")), oldKey);
        const std::vector<std::wstring> pairAndBackups{L"Certificate.pem", L"Certificate.pem_old",
                                                       L"PrivateKey.pem", L"PrivateKey.pem_old"};
        EXPECT_EQ(FileNames(install.Path()), pairAndBackups) << "no temporary file is left";
    }

    Deployment app;
    TempFolder install{L"kill"};
    std::string oldCertificate, oldKey, newCertificate, newKey;
    mutable int mixedPairs = 0;
    mutable int leftLocks = 0;  // lock files a killed run left: the system must remove each
};

TEST_F(KillDuringUpdate, EveryFileStaysWholeAndTheNextRunCompletes) {
    const unsigned kills = EnvironmentNumber(L"KDU_KILLS", 10);
    const unsigned seed =
        EnvironmentNumber(L"KDU_KILL_SEED", static_cast<unsigned>(::GetTickCount64()));
    std::printf("kill test: %u kills, %zu MB files, seed %u (KDU_KILL_SEED)\n", kills,
                oldCertificate.size() >> 20, seed);

    // One undisturbed run tells when the replacement ends; it starts after the three pauses.
    InstallOldPair();
    const ULONGLONG end = RunToTheEnd();
    ASSERT_GT(end, 3000U);
    CheckCompleted();
    const ULONGLONG start = 2950;
    std::printf("undisturbed run: replacement from about %llu ms to %llu ms after the click\n",
                start + 50, end);

    std::mt19937 random{seed};
    std::uniform_int_distribution<ULONGLONG> moment{start, end};
    std::map<std::string, int> moments;
    for (unsigned i = 0; i < kills && !HasFatalFailure(); ++i) {
        InstallOldPair();
        const auto killAt = moment(random);
        // Every other round, the session ends: Windows ends the program as soon as it has
        // answered WM_ENDSESSION, which must never be between the pair's renames.
        const bool sessionEnds = i % 2 == 1;
        const int mixedBefore = mixedPairs;
        {
            UpdaterWindow window{app.Executable()};
            ASSERT_TRUE(window.Found());
            const auto clicked = ::GetTickCount64();
            window.Click(IDC_COMMAND1);
            const auto due = clicked + killAt;
            const auto now = ::GetTickCount64();
            if (now < due) ::Sleep(static_cast<DWORD>(due - now));
            DWORD_PTR answered = 0;
            if (sessionEnds) {
                ::SendMessageTimeoutW(window.Window(), WM_ENDSESSION, TRUE, ENDSESSION_CRITICAL,
                                      SMTO_NORMAL, kRunTimeoutMs, &answered);
            }
            window.Kill();
        }
        SCOPED_TRACE((sessionEnds ? "session end " : "kill ") + std::to_string(i) + " at " +
                     std::to_string(killAt) + " ms");
        ++moments[(sessionEnds ? "session end: " : "") + CheckAfterKill()];
        if (sessionEnds) {
            EXPECT_EQ(mixedPairs, mixedBefore) << "ended between the renames";
        }
        RunToTheEnd();
        CheckCompleted();
    }

    EXPECT_EQ(leftLocks, 0) << "lock files left after a kill";
    std::printf(
        "where the kills landed (%d left the new certificate beside the old key, %d a "
        "lock file):\n",
        mixedPairs, leftLocks);
    for (const auto& [landed, count] : moments) std::printf("%4d  %s\n", count, landed.c_str());
}

// The program started with arguments, with no window to wait for.
class Started {
public:
    Started(const std::wstring& executable, const std::wstring& arguments) {
        std::wstring commandLine = L"\"" + executable + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION information{};
        if (::CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, &startup, &information)) {
            process_.reset(information.hProcess);
            ::CloseHandle(information.hThread);
        }
    }
    bool Ended(DWORD milliseconds) const {
        return !process_ || ::WaitForSingleObject(process_.get(), milliseconds) != WAIT_TIMEOUT;
    }
    // Ends it at once, as the task manager or a power cut would.
    void Kill() const {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), INFINITE);
    }

private:
    win32::UniqueKernelObject process_;
};

// /restore /quiet killed at random moments: every content stays in the install folder under
// some name, each whole, and the next restore leaves two whole matching pairs. Two rounds: back
// from a new pair to the previous one, and back from a renewal that kept the key (the key is
// then one content under two names, and only the certificate changes).
class RestoreKilled : public KillDuringUpdate {
protected:
    void Round(bool renewal);
};

TEST_F(RestoreKilled, AtAnyMomentLosesNoContentAlsoAfterARenewalThatKeptTheKey) {
    Round(false);
    if (!HasFatalFailure()) Round(true);
}

void RestoreKilled::Round(bool renewal) {
    // The second round's default is shorter: the test command runs both.
    const unsigned kills = EnvironmentNumber(L"KDU_KILLS", renewal ? 5 : 10);
    const unsigned seed =
        EnvironmentNumber(L"KDU_KILL_SEED", static_cast<unsigned>(::GetTickCount64()));
    // The renewed certificate: the same one, padded otherwise, is another file to the program.
    const auto previous = renewal
                              ? Pair{SamplePair(oldCertificate.size() + 8192).certificate, newKey}
                              : PreviousSamplePair(oldCertificate.size());
    const std::string previousName = renewal ? "renewed" : "previous";
    const std::map<std::string, const std::string*> contents{
        {"new cert", &newCertificate},
        {"new key", &newKey},
        {previousName + " cert", &previous.certificate},
        {previousName + " key", &previous.key}};
    const std::set<std::pair<std::string, std::string>> pairs{
        {"new cert", "new key"}, {previousName + " cert", renewal ? "new key" : "previous key"}};
    const auto layOut = [&] {
        for (const auto& name : FileNames(install.Path())) ::DeleteFileW(Installed(name).c_str());
        WriteFileBytes(Installed(L"Certificate.pem"), newCertificate);
        WriteFileBytes(Installed(L"PrivateKey.pem"), newKey);
        WriteFileBytes(Installed(L"Certificate.pem_old"), previous.certificate);
        WriteFileBytes(Installed(L"PrivateKey.pem_old"), previous.key);
    };
    const auto restore = [&] {
        bool windowShown = false;
        return RunToEnd(app.Executable(), L"/restore /quiet", windowShown);
    };
    const auto installed = [&](std::wstring_view name) {
        return Identify(Installed(name), contents);
    };

    // One undisturbed run tells when the files start to change (the staged certificate shows)
    // and when it ends; the kills land between the two, give or take 100 ms.
    layOut();
    const auto started = ::GetTickCount64();
    ULONGLONG staged = 0;
    for (const Started run{app.Executable(), L"/restore /quiet"}; !run.Ended(1);) {
        if (!staged && FileExists(Installed(L"Certificate.pem") + std::wstring{kStagedSuffix})) {
            staged = ::GetTickCount64() - started;
        }
    }
    const auto end = ::GetTickCount64() - started;
    ASSERT_GT(staged, 0u);
    std::printf(
        "restore kill test%s: %u kills, %zu MB files, seed %u; an undisturbed restore "
        "stages from %llu ms and ends at %llu ms\n",
        renewal ? " after a renewal that kept the key" : "", kills, oldCertificate.size() >> 20,
        seed, staged, end);

    std::mt19937 random{seed};
    std::uniform_int_distribution<ULONGLONG> moment{staged > 100 ? staged - 100 : 0, end + 100};
    std::map<std::string, int> moments;
    int killed = 0;
    for (unsigned i = 0; i < kills && !HasFatalFailure(); ++i) {
        layOut();
        const auto killAt = moment(random);
        SCOPED_TRACE("kill " + std::to_string(i) + " at " + std::to_string(killAt) + " ms");
        if (const Started run{app.Executable(), L"/restore /quiet"};
            !run.Ended(static_cast<DWORD>(killAt))) {
            run.Kill();
            ++killed;
        }
        // Each content somewhere; every file but a temporary one being written whole.
        std::set<std::string> found;
        std::string landed;
        for (const auto& name : FileNames(install.Path())) {
            const auto what = installed(name);
            if (contents.contains(what)) found.insert(what);
            if (!name.ends_with(kTemporarySuffix)) {
                EXPECT_TRUE(contents.contains(what)) << std::string(name.begin(), name.end());
            }
            auto shown = std::string(name.begin(), name.end());
            if (const auto ours = shown.find(".KestovaDesktopUpdater"); ours != std::string::npos) {
                shown.erase(ours, std::strlen(".KestovaDesktopUpdater"));
            }
            landed.append(shown).append("=").append(what).append(" ");
        }
        EXPECT_EQ(found.size(), renewal ? 3u : 4u) << landed;
        ++moments[landed];

        ASSERT_EQ(restore(), 0u) << landed;
        const std::pair pair{installed(L"Certificate.pem"), installed(L"PrivateKey.pem")};
        const std::pair backups{installed(L"Certificate.pem_old"),
                                installed(L"PrivateKey.pem_old")};
        EXPECT_TRUE(pairs.contains(pair)) << pair.first << ", " << pair.second;
        EXPECT_TRUE(pairs.contains(backups)) << backups.first << ", " << backups.second;
        EXPECT_NE(pair, backups);
        EXPECT_EQ(FileNames(install.Path()).size(), 4u);
    }
    std::printf("%d of %u runs were killed; where the kills landed:\n", killed, kills);
    for (const auto& [landed, count] : moments) std::printf("%4d  %s\n", count, landed.c_str());
}

}  // namespace
}  // namespace kdu::testing
