#include <gtest/gtest.h>

#include "platform/SystemError.h"
#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32RunningProgram.h"
#include "tests/support/Win32TestSupport.h"

namespace kdu::testing {
namespace {

using win32::UniqueFile;
using win32::Win32FileSystem;

DWORD ReadError(const std::wstring& path) {
    try {
        Win32FileSystem{}.ReadAll(path);
    } catch (const SystemError& error) {
        EXPECT_EQ(error.Path(), path);
        EXPECT_FALSE(win32::Described(error).Description().empty());
        return error.Code();
    }
    ADD_FAILURE() << "read did not fail";
    return 0;
}

TEST(FileRead, ReadsEveryByteIncludingNulsAndHighBytes) {
    TempFolder folder;
    std::string content;
    for (int i = 0; i < 70000; ++i) content.push_back(static_cast<char>(i * 7));
    WriteFileBytes(folder / L"data3.bin", content);
    EXPECT_EQ(Win32FileSystem{}.ReadAll(folder / L"data3.bin"), content);
}

TEST(FileRead, ChineseFolderNames) {
    TempFolder folder{L"\u5B89\u88DD\u8CC7\u6599\u593E"};
    WriteFileBytes(folder / L"data3.bin", "abc");
    EXPECT_EQ(Win32FileSystem{}.ReadAll(folder / L"data3.bin"), "abc");
}

TEST(FileRead, FailuresCarryTheSystemsNumber) {
    TempFolder folder;
    EXPECT_EQ(ReadError(folder / L"missing.bin"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadError(folder / L"no\\such\\folder.bin"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReadError(folder.Path()), ERROR_ACCESS_DENIED);  // a folder, not a file
}

TEST(FileRead, FileHeldWithoutSharingIsRefused) {
    TempFolder folder;
    const auto path = folder / L"data3.bin";
    WriteFileBytes(path, "locked");
    const UniqueFile holder{::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(holder);
    EXPECT_EQ(ReadError(path), ERROR_SHARING_VIOLATION);
}

TEST(FileRead, HugeFilesAreRefusedNotLoaded) {
    TempFolder folder;
    const auto path = folder / L"huge.bin";
    {
        const UniqueFile file{
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)};
        ASSERT_TRUE(file);
        LARGE_INTEGER size{};
        size.QuadPart = 65LL * 1024 * 1024;
        ASSERT_TRUE(::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(file.get()));
    }
    try {
        Win32FileSystem{}.ReadAll(path);
        ADD_FAILURE() << "read did not fail";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.Kind(), Failure::TooLarge);
        EXPECT_EQ(error.Path(), path);
    }
}

TEST(RunningProgram, IsTheRunningTestProgram) {
    const auto path = win32::Win32RunningProgram{}.Path();
    EXPECT_TRUE(path.ends_with(L"\\kdu_windows_tests.exe")) << path.size();
    EXPECT_TRUE(FileExists(path));
}

}  // namespace
}  // namespace kdu::testing
