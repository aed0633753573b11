#include "platform/Paths.h"

#include <gtest/gtest.h>

namespace kdu {
namespace {

TEST(Paths, JoinIsPlainConcatenation) {
    EXPECT_EQ(Join(L"C:\\Kestova", L"Certificate.pem"), L"C:\\Kestova\\Certificate.pem");
    EXPECT_EQ(Join(L"C:\\Kestova\\", L"Certificate.pem"), L"C:\\Kestova\\\\Certificate.pem");
    EXPECT_EQ(Join(L"   ", L"a"), L"   \\a");
    EXPECT_EQ(Join(L"", L"a"), L"\\a");
}

TEST(Paths, FolderOfAnExecutable) {
    EXPECT_EQ(FolderOf(L"C:\\Users\\u\\Downloads\\x.exe"), L"C:\\Users\\u\\Downloads");
    EXPECT_EQ(FolderOf(L"\\\\server\\share\\x.exe"), L"\\\\server\\share");
    EXPECT_EQ(FolderOf(L"x.exe"), L"");
}

TEST(Paths, DriveRootKeepsItsSeparatorSoJoinedPathsHoldTwo) {
    EXPECT_EQ(FolderOf(L"C:\\x.exe"), L"C:\\");
    EXPECT_EQ(Join(FolderOf(L"C:\\x.exe"), L"data3.bin"), L"C:\\\\data3.bin");
}

}  // namespace
}  // namespace kdu
