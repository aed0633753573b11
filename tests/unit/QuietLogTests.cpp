#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "app/QuietRun.h"
#include "platform/ErrorNumbers.h"
#include "tests/unit/Fakes.h"

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
        {QuietOutcome{}, 1605},             // no install folder recorded for this user
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
        {failed(SystemError{Failure::VirtualStoreCopy}), 183},
        {failed(SystemError{kFileNotFound, L"", L"C:\\Kestova\\PrivateKey.pem_old"}), 2},
        {failed(SystemError{Failure::PackageFileMissing}), 1612},
        {failed(SystemError{Failure::NoBackup}), 1168},
        {failed(SystemError{Failure::BackupNotAPair}), 13},
        {failed(SystemError{Failure::BackupExpired}), 0x800B0101},
        {failed(SystemError{kCancelled, L""}), 1223},
    };
    for (const auto& [outcome, code] : rows) {
        EXPECT_EQ(ExitCode(outcome), code) << (outcome.error ? outcome.error->what() : "none");
    }
    EXPECT_EQ(ExitCode(QuietOutcome{L"C:\\Kestova", std::nullopt}), 0u);
}

// Each line says when (ISO 8601 UTC), where, who, how, which program and which package.
TEST(QuietLog, StartsWithWhatAFleetTellsRunsApartBy) {
    const LogContext context{1796688000 + 3723, L"PC-042", L"CONTOSO\\mei",
                             L"elevated",       L"1.00",   L"SHA-256 ab, expires 2027-12-08"};
    EXPECT_EQ(LogHead(context),
              L"2026-12-08T01:02:03Z\tPC-042\tCONTOSO\\mei\televated\t1.00\t"
              L"SHA-256 ab, expires 2027-12-08");

    // The package as the head names it, from a data1.bin as large as one may be.
    FakeServices fake;
    fake.files.files[L"C:\\Users\\user\\Downloads\\data1.bin"] =
        SourceFile("sample/deployment/new-cert.pem") + std::string(1 << 20, '\n');
    const auto package = PackageText(fake.files, fake.program);
    EXPECT_TRUE(package.starts_with(L"SHA-256 536393aa826eca21c02ea5359fac5d1ff2c557c819e02d14"));
    EXPECT_TRUE(package.ends_with(L", expires 2036-12-04"))
        << std::string(package.begin(), package.end());
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
