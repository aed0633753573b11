#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "app/QuietRun.h"
#include "platform/ErrorNumbers.h"

namespace kdu::testing {
namespace {

// Every exit code that docs/deployment.md promises, from what gives it.
TEST(QuietExitCodes, AreTheDocumentedOnes) {
    const auto failed = [](SystemError error) {
        QuietOutcome outcome;
        outcome.installFolder = L"C:\\Kestova";
        outcome.error = std::move(error);
        return outcome;
    };
    const std::pair<QuietOutcome, std::uint32_t> rows[] = {
        {failed(SystemError{0, L""}), 31},  // a failure the system gave no number
        {QuietOutcome{}, 3},
        {failed(SystemError{kSharingViolation, L"", L"C:\\Kestova\\PrivateKey.pem"}), 32},
        {failed(SystemError{Failure::AnotherRun}), 1618},
        {failed(SystemError{Failure::HeldOpen}), 1618},
        {failed(SystemError{Failure::InvalidArgument}), 87},
        {failed(SystemError{Failure::NotACertificate}), 13},
        {failed(SystemError{Failure::EncryptedPrivateKey}), 13},
        {failed(SystemError{Failure::KeyMismatch}), 13},
        {failed(SystemError{Failure::ChecksumsMalformed}), 13},
        {failed(SystemError{Failure::CertificateExpired}), 0x800B0101},
        {failed(SystemError{Failure::NewerInstalled}), 1638},
        {failed(SystemError{Failure::ChangedAfterPackaging}), 323},
        {failed(SystemError{Failure::NotInPackage}), 323},
        {failed(SystemError{Failure::PermissionsNotKept}), 5},
        {failed(SystemError{kFileNotFound, L"", L"C:\\Kestova\\PrivateKey.pem_old"}), 2},
        {failed(SystemError{Failure::BackupNotAPair}), 13},
        {failed(SystemError{Failure::BackupExpired}), 0x800B0101},
        {failed(SystemError{kCancelled, L""}), 1223},
    };
    for (const auto& [outcome, code] : rows) {
        EXPECT_EQ(ExitCode(outcome), code) << (outcome.error ? outcome.error->what() : "none");
    }
    EXPECT_EQ(ExitCode(QuietOutcome{L"C:\\Kestova", std::nullopt}), 0u);
}

TEST(QuietLog, IsOneLineWhateverTheErrorSays) {
    const QuietOutcome outcome{L"C:\\k", SystemError{5, L"Access is denied.\r\n", L"C:\\k\\a\tb"}};
    const auto line = QuietLogLine(L"2026-12-08 10:00:00", outcome);
    EXPECT_EQ(line.find_first_of(L"\r\n"), std::wstring::npos) << "one line";
    EXPECT_EQ(std::count(line.begin(), line.end(), L'\t'), 5) << "six fields";
    EXPECT_TRUE(line.ends_with(L"\t5\tAccess is denied.  \tC:\\k\\a b"));
}

}  // namespace
}  // namespace kdu::testing
