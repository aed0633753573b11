#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/Form1.h"
#include "app/Texts.h"

namespace kdu::testing {
namespace {

TEST(ErrorMessage, AccessDeniedIsRemarkedByWhoRunsTheProgram) {
    EXPECT_EQ(AccessDeniedRemark(Rights::LimitedAdministrator), texts::kMayNeedAdministrator);
    EXPECT_NE(AccessDeniedRemark(Rights::StandardUser).find(L"請聯絡系統管理員"),
              std::wstring_view::npos);
    EXPECT_EQ(AccessDeniedRemark(Rights::Elevated), L"") << "more rights would not help";

    // Controlled Folder Access denies whoever runs the program: only an administrator's
    // allowing it helps.
    EXPECT_EQ(AccessDeniedRemark(Rights::LimitedAdministrator, true),
              texts::kControlledFolderAccess);
    const std::wstring documents = L"C:\\Users\\mei\\OneDrive\\Documents";
    const auto mayHaveRefused = [&](std::optional<std::uint32_t> policy,
                                    std::optional<std::uint32_t> setting, const wchar_t* folder) {
        return MayHaveRefused({policy, setting, {L"C:\\Users\\Public\\Documents", documents}},
                              folder);
    };
    EXPECT_TRUE(mayHaveRefused({}, 1, L"C:\\Users\\mei\\OneDrive\\Documents\\Kestova"));
    EXPECT_FALSE(mayHaveRefused({}, 2, L"C:\\Users\\mei\\OneDrive\\Documents\\Kestova"))
        << "audit mode refuses nothing";
    EXPECT_FALSE(mayHaveRefused(0, 1, L"C:\\Users\\mei\\OneDrive\\Documents\\Kestova"))
        << "the policy rules";
    EXPECT_FALSE(mayHaveRefused({}, 1, L"C:\\Program Files\\Kestova"));
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
