// The real file layer under the replacement: temporary copy and rename, refusals, long and
// Chinese paths.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <tuple>

#include "platform/win32/LockFileRunLock.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Services.h"
#include "tests/support/Win32TestSupport.h"
#include "update/CredentialReplacement.h"

namespace kdu::testing {
namespace {

using win32::UniqueFile;
using win32::Win32FileSystem;

std::uint32_t ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const SystemError& error) {
        return error.Code();
    }
    return 0;
}

// The adapter's steps of a replacement: a new file made like target, renamed over it, flushed.
void WriteAndRename(Win32FileSystem& files, const std::string& content,
                    const std::wstring& target) {
    const auto file = files.WriteNewFile(content, target + L".tmp", target);
    file->RenameOver(target);
    file->Flush();
}

UniqueFile HoldOpen(const std::wstring& path, DWORD sharing) {
    return UniqueFile{::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, sharing, nullptr,
                                    OPEN_EXISTING, 0, nullptr)};
}

class ReplacementFiles : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(source, "new content");
        WriteFileBytes(target, "old content");
    }
    TempFolder folder{L"\u5B89\u88DD"};
    std::wstring source = folder / L"data1.bin";
    std::wstring target = folder / L"Certificate.pem";
    Win32FileSystem files;
};

TEST_F(ReplacementFiles, ReplaceFileLeavesOnlyTheNewContent) {
    files.WriteNewFile("abandoned", target + L".tmp", target);
    EXPECT_EQ(FileNames(folder.Path()).size(), 2u) << "a new file not put in place deletes itself";
    WriteAndRename(files, "new content", target);
    EXPECT_EQ(ReadFileBytes(target), "new content");
    EXPECT_EQ(FileNames(folder.Path()).size(), 2u) << "no temporary file left";
}

// Wine cannot show a protected or inherited DACL, nor encryption: the unit tests cover those.
TEST_F(ReplacementFiles, TheNewFileIsMadeLikeTheOneItReplaces) {
    SetFileDacl(target, kEveryoneWritesDacl);
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_NE(FileDacl(target).find(kEveryoneWritesEntry), std::wstring::npos);
    WriteAndRename(files, "new content", target);
    EXPECT_EQ(ReadFileBytes(target), "new content");
    EXPECT_NE(FileDacl(target).find(kEveryoneWritesEntry), std::wstring::npos)
        << "a plain rename loses it";
    EXPECT_EQ(
        ::GetFileAttributesW(target.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
        DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
}

// Only a DACL of the file's own is set on the new file (and so needs WRITE_DAC, which a share
// with "Change" permission does not grant); one that only inherits comes with the folder.
TEST(NewFilePermissions, AreSetOnlyWhereTheFileHasItsOwn) {
    const std::pair<const wchar_t*, bool> rows[] = {
        {L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", true},        // protected
        {L"D:(A;;FA;;;SY)(A;ID;FA;;;BA)", true},       // an entry of its own beside inherited ones
        {L"D:", true},                                 // no entry: nobody may read it
        {L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BU)", false},  // inherited only
        {L"O:BA", false},                              // no DACL: anyone may
    };
    for (const auto& [sddl, own] : rows) {
        EXPECT_EQ(win32::KeepsItsOwnDacl(SecurityDescriptorOf(sddl).get()), own)
            << std::string(sddl, sddl + std::wcslen(sddl));
    }
    // Such a DACL is set only where the one the new file inherited lets in others, or fewer.
    const std::tuple<const wchar_t*, const wchar_t*, bool> inherited[] = {
        // a share that shows inherited entries as the file's own
        {L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;CO)", L"D:(A;;FA;;;SY)(A;;FA;;;BA)",
         true},
        {L"D:AI(A;ID;FA;;;SY)(A;ID;FR;;;BU)", L"D:P(A;;FA;;;SY)", false},  // users read it too
        {L"D:AI(A;ID;FA;;;SY)", L"D:(A;;FA;;;SY)(A;;FR;;;NS)", false},     // the service cannot
        {L"D:AI(A;ID;FA;;;SY)", L"D:P(A;;FA;;;SY)", false},  // the folder's changes would reach it
        {L"O:BA", L"D:(A;;FA;;;SY)", false},                 // no DACL: anyone may
    };
    for (const auto& [made, model, same] : inherited) {
        EXPECT_EQ(win32::GrantTheSame(SecurityDescriptorOf(made).get(),
                                      SecurityDescriptorOf(model).get()),
                  same)
            << std::string(made, made + std::wcslen(made));
    }
}

// OneDrive's pins are carried after creation, which would take their bits for flags.
TEST(NewFileAttributes, PinsComeAfterCreationAndEncryptionWithIt) {
    constexpr DWORD kPinned = 0x00080000;
    constexpr DWORD kUnpinned = 0x00100000;
    const std::tuple<DWORD, DWORD, DWORD> rows[] = {
        {0, FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_HIDDEN | kPinned, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN | kPinned},
        {kUnpinned | FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_NORMAL, kUnpinned},
        {FILE_ATTRIBUTE_ENCRYPTED, FILE_ATTRIBUTE_ENCRYPTED, 0},
    };
    for (const auto& [model, atCreation, afterwards] : rows) {
        const auto carried = win32::AttributesToCarry(model);
        EXPECT_EQ(carried.atCreation, atCreation) << model;
        EXPECT_EQ(carried.afterwards, afterwards) << model;
    }
}

TEST_F(ReplacementFiles, AFileAlreadyUnderTheNewNameIsNeverWrittenThrough) {
    const auto planted = folder / L"planted";
    WriteFileBytes(planted, "planted");
    EXPECT_EQ(ErrorOf([&] { files.WriteNewFile("new", planted, target); }), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadFileBytes(planted), "planted") << "neither written through nor removed";
}

TEST_F(ReplacementFiles, InspectCountsHardLinks) {
    EXPECT_EQ(files.Inspect(target).links, 1u);
    ASSERT_TRUE(::CreateHardLinkW((folder / L"other name").c_str(), target.c_str(), nullptr));
    EXPECT_EQ(files.Inspect(target).links, 2u);
    EXPECT_EQ(files.Inspect(target).reparseTag, 0u);
}

TEST_F(ReplacementFiles, ReadOnlyTargetIsRefusedAndKept) {
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ErrorOf([&] { files.CheckReplaceable(target); }), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorOf([&] { WriteAndRename(files, "new content", target); }), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadFileBytes(target), "old content");
    EXPECT_EQ(FileNames(folder.Path()).size(), 2u);
}

TEST_F(ReplacementFiles, FileHeldOpenByOthersIsNotReplaceable) {
    {
        const auto holder = HoldOpen(target, 0);
        ASSERT_TRUE(holder);
        EXPECT_EQ(ErrorOf([&] { files.CheckReplaceable(target); }), ERROR_SHARING_VIOLATION);
        EXPECT_EQ(ErrorOf([&] { files.ReadAll(target); }), ERROR_SHARING_VIOLATION);
    }
    for (const DWORD sharing : {DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE},
                                DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}}) {
        const auto reader = HoldOpen(target, sharing);
        ASSERT_TRUE(reader);
        EXPECT_EQ(ErrorOf([&] { files.CheckReplaceable(target); }), ERROR_SHARING_VIOLATION)
            << "NTFS renames over no open file, whatever it shares";
        EXPECT_EQ(files.ReadAll(target), "old content") << "a read blocks nobody";
    }
    EXPECT_EQ(ErrorOf([&] { files.CheckReplaceable(target); }), 0u);
    EXPECT_EQ(ErrorOf([&] { files.CheckReplaceable(folder / L"missing"); }), ERROR_FILE_NOT_FOUND);
}

// The package check's question of names, as the system answers it.
TEST_F(ReplacementFiles, FileNamesAsWindowsComparesThem) {
    EXPECT_TRUE(files.SameFileName("DATA1.BIN", L"data1.bin"));
    EXPECT_TRUE(files.SameFileName("\xC3\x84.BIN", L"\u00E4.bin")) << "UTF-8, case beyond ASCII";
    EXPECT_FALSE(files.SameFileName("data1.bin ", L"data1.bin"));
    EXPECT_FALSE(
        files.SameFileName("\xFF"
                           "data1.bin",
                           L"\u00FFdata1.bin"))
        << "not UTF-8";
}

TEST_F(ReplacementFiles, RemovingWhatIsNotThereIsNoFailure) {
    EXPECT_EQ(ErrorOf([&] { files.Remove(folder / L"not-there"); }), 0u);
    files.Remove(target);
    EXPECT_FALSE(files.Exists(target));
}

TEST(LongPaths, AnInstallFolderLongerThan260CharactersWorks) {
    TempFolder folder{L"long"};
    std::wstring deep = folder.Path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(40, L'k');
        ASSERT_TRUE(::CreateDirectoryW(win32::FileApiPath(deep).c_str(), nullptr)) << deep.size();
    }
    Win32FileSystem files;
    const auto target = deep + L"\\Certificate.pem";
    WriteFileBytes(win32::FileApiPath(target), "old certificate");
    WriteAndRename(files, "certificate", target);
    EXPECT_EQ(files.ReadAll(target), "certificate");
    files.Remove(target);
    for (; deep.size() > folder.Path().size(); deep.resize(deep.rfind(L'\\'))) {
        ::RemoveDirectoryW(win32::FileApiPath(deep).c_str());
    }
}

// Closes a handle half a second after it is given, as antivirus lets go of a file it scanned.
DWORD WINAPI CloseAfterHalfASecond(void* handle) {
    ::Sleep(500);
    ::CloseHandle(handle);
    return 0;
}

// Another run in a thread of its own (the lock's mutex is a thread's): it takes the lock at once,
// and gives it up half a second later.
struct AnotherRun {
    std::wstring lockFile;
    win32::UniqueKernelObject taken{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    bool took = false;
};
DWORD WINAPI HoldTheLockHalfASecond(void* run) {
    auto& another = *static_cast<AnotherRun*>(run);
    win32::LockFileRunLock lock;
    another.took = lock.TryAcquire(another.lockFile);
    ::SetEvent(another.taken.get());
    ::Sleep(500);
    lock.Release();
    return 0;
}

// A lock file that cannot be opened as the lock: waited for while a run may hold it, taken as
// it is where nobody does, a refusal where none can be made. (Wine shows neither the pending
// deletion of Windows 7 and 8.1 nor another user's file, so the decision is tested alone.)
TEST(RunLock, ALockFileThatCannotBeOpenedIsJudgedByWhatTheSystemSaysNext) {
    constexpr DWORD kThere = NO_ERROR, kOpened = NO_ERROR;
    const std::tuple<DWORD, DWORD, DWORD, win32::LockVerdict> rows[] = {
        {ERROR_SHARING_VIOLATION, kThere, kOpened, win32::LockVerdict::Held},
        {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, win32::LockVerdict::Held},
        {ERROR_ACCESS_DENIED, kThere, ERROR_SHARING_VIOLATION, win32::LockVerdict::Held},
        {ERROR_ACCESS_DENIED, kThere, ERROR_ACCESS_DENIED, win32::LockVerdict::NotOpenable},
        {ERROR_ACCESS_DENIED, kThere, kOpened, win32::LockVerdict::Leftover},
        {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
         win32::LockVerdict::Refused},
        {ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
         win32::LockVerdict::Refused},
    };
    for (const auto& [open, attributes, plainOpen, verdict] : rows) {
        EXPECT_EQ(win32::JudgeLockFile(open, attributes, plainOpen), verdict)
            << open << " " << attributes << " " << plainOpen;
    }
}

TEST(RealReplacement, LockedPrivateKeyLeavesThePairAndNoTemporaryFile) {
    TempFolder app{L"app"};
    TempFolder install{L"\u5B89\u88DD"};
    const auto [certificate, key] = SamplePair();
    WriteFileBytes(app / L"data1.bin", certificate);
    WriteFileBytes(app / L"data2.bin", key);
    WriteFileBytes(install / L"Certificate.pem", "OLD CERT");
    WriteFileBytes(install / L"PrivateKey.pem", "OLD KEY");
    win32::Win32Services windows;
    auto& runLock = windows.runLock;
    const auto paths =
        ComposePaths(app.Path(), install.Path(), L"Certificate.pem", L"PrivateKey.pem");
    {
        const auto holder = HoldOpen(install / L"PrivateKey.pem", 0);
        const ULONGLONG started = ::GetTickCount64();
        EXPECT_EQ(ErrorOf([&] { ReplaceCredentials(windows.All(), paths); }),
                  ERROR_SHARING_VIOLATION);
        std::printf("a key held for good fails after %llu ms\n", ::GetTickCount64() - started);
    }
    EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem"), "OLD CERT");
    EXPECT_EQ(FileNames(install.Path()).size(), 2u);

    // The key held for half a second, as antivirus does, and the install folder's lock by
    // another run for as long: ridden out.
    auto holder = HoldOpen(install / L"PrivateKey.pem", 0);
    ASSERT_TRUE(holder);
    AnotherRun anotherRun{paths.lockFile};
    const win32::UniqueKernelObject lockHolder{
        ::CreateThread(nullptr, 0, HoldTheLockHalfASecond, &anotherRun, 0, nullptr)};
    ASSERT_TRUE(lockHolder);
    ::WaitForSingleObject(anotherRun.taken.get(), INFINITE);
    ASSERT_TRUE(anotherRun.took);
    EXPECT_FALSE(runLock.TryAcquire(paths.lockFile)) << "one run at a time";
    const win32::UniqueKernelObject keyReleaser{
        ::CreateThread(nullptr, 0, CloseAfterHalfASecond, holder.release(), 0, nullptr)};
    ASSERT_TRUE(keyReleaser);
    ReplaceCredentials(windows.All(), paths);
    EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem"), certificate);
    EXPECT_EQ(ReadFileBytes(install / L"PrivateKey.pem_old"), "OLD KEY");
    EXPECT_EQ(FileNames(install.Path()).size(), 4u) << "the lock file gone with the run";
}

}  // namespace
}  // namespace kdu::testing
