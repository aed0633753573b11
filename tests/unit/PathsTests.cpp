#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <string>

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

// Where a product without a manifest reads its pair instead, and where the protected folders are.
TEST(Paths, VirtualStoreCopiesAreOnlyOfVirtualizedFolders) {
    const std::wstring virtualized[] = {L"C:\\Program Files", L"C:\\Program Files (x86)\\",
                                        L"C:\\ProgramData", L"C:\\Windows"};
    const std::wstring local = L"C:\\Users\\mei\\AppData\\Local";
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"C:\\Program Files (x86)\\Kestova\\Certificate.pem",
         L"C:\\Users\\mei\\AppData\\Local\\VirtualStore\\Program Files "
         L"(x86)\\Kestova\\Certificate.pem"},
        {L"c:\\PROGRAM FILES\\Kestova\\PrivateKey.pem",
         L"C:\\Users\\mei\\AppData\\Local\\VirtualStore\\PROGRAM FILES\\Kestova\\PrivateKey.pem"},
        {L"C:\\Program Files Kestova\\Certificate.pem", L""},  // a name that only starts alike
        {L"C:\\Users\\mei\\Kestova\\Certificate.pem", L""},
        {L"\\\\server\\Program Files\\Certificate.pem", L""},
    };
    for (const auto& [path, copy] : rows) {
        EXPECT_EQ(VirtualStorePathOf(path, local, virtualized), copy) << path;
    }
    EXPECT_EQ(VirtualStorePathOf(rows[0].first, L"", virtualized), L"") << "no profile, no copy";
    EXPECT_TRUE(
        LiesWithin(L"C:\\Users\\mei\\OneDrive\\Documents", L"c:/users/mei/onedrive/documents/"));
    EXPECT_FALSE(LiesWithin(L"C:\\Users\\mei\\Doc", L"C:\\Users\\mei\\Documents"));
}

}  // namespace
}  // namespace kdu
