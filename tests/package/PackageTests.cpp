// The package builder: what it makes of good inputs, and each refusal with its message.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/package/TestCredentials.h"
#include "tools/package/Credentials.h"
#include "tools/package/Messages.h"
#include "tools/package/Package.h"
#include "tools/package/Process.h"
#include "tools/package/SignCommand.h"
#include "tools/package/Signing.h"
#include "update/Detection.h"
#include "update/PackageCheck.h"
#include "update/PackageDigests.h"

extern char** environ;

namespace kdu::package {
namespace {

namespace fs = std::filesystem;
using namespace testing;  // NOLINT(google-build-using-namespace)

constexpr long kDay = 86400;  // seconds

const std::string kSixLines =
    "歡迎使用更新程式\n請關閉程式\n請按「開始更新」\n已更新完成\n請重新啟動\n更新失敗\n";

std::string AllReasons(const std::vector<Finding>& findings) {
    std::string text;
    for (const auto& finding : findings) text += Describe(finding, "finding") + "\n";
    return text;
}

// --- Messages ------------------------------------------------------------------------------

TEST(Messages, SixLinesBecomeBig5WithCrLf) {
    Findings findings;
    const auto big5 = ConvertMessages("\xEF\xBB\xBF中文\r\nB\n3\n4\n5\n6", "m.txt", findings);
    EXPECT_FALSE(findings.Refused()) << AllReasons(findings.errors);
    EXPECT_EQ(big5, "\xA4\xA4\xA4\xE5\r\nB\r\n3\r\n4\r\n5\r\n6\r\n");  // 中文 in Big5
}

TEST(Messages, FewerThanSixLinesAreRefusedNamingTheRoles) {
    Findings findings;
    EXPECT_EQ(ConvertMessages("1\n2\n3\n4\n5\n", "m.txt", findings), "");
    ASSERT_EQ(findings.errors.size(), 1U);
    const auto message = Describe(findings.errors[0], "error");
    EXPECT_NE(message.find("m.txt: error: has 5 lines"), std::string::npos) << message;
    EXPECT_NE(message.find("1-3 the introduction, 4 and 5 the closing lines, 6 the failure"),
              std::string::npos)
        << message;
}

TEST(Messages, EachBadInputNamesItsLineAndReason) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"1\n2\n3\n4\n5\n6 😀\n",
         "m.txt:6: error: character '😀' (U+1F600) at column 3 cannot be "
         "written in Big5 (code page 950)"},
        {"1\n2\n们\n4\n5\n6\n", "m.txt:3: error: character '们' (U+4EEC)"},
        {"1\n2\n3\nfour\rmore\n5\n6\n",
         "m.txt:4: error: holds a carriage return (CR) inside the "
         "line at column 5"},
        {"1\n2\xFF\n3\n4\n5\n6\n", "m.txt:2: error: not valid UTF-8: byte 0xFF at column 2"},
        {"1\n\xC0\xAF\n3\n4\n5\n6\n", "m.txt:2: error: not valid UTF-8"},      // overlong '/'
        {"1\n\xED\xA0\x80\n3\n4\n5\n6\n", "m.txt:2: error: not valid UTF-8"},  // a surrogate
        {std::string{"1\n2\n3\nA\0B\n5\n6\n", 14},
         "m.txt:4: error: control character U+0000 at column 2: the window shows it as a box"},
        {"1\n2\n3\n4\n\tfive\n6\n", "m.txt:5: error: control character U+0009 at column 1"},
        {"1\n2\n3\n4\n5\n6\x1B[0m\n", "m.txt:6: error: control character U+001B at column 2"},
        {"1\n\xC2\x85\n3\n4\n5\n6\n", "m.txt:2: error: control character U+0085"},  // C1
        {"1\n2\n3\nA\xF3\xA0\x81\x81\n5\n6\n",  // a tag character, dropped by iconv
         "m.txt:4: error: character '\xF3\xA0\x81\x81' (U+E0041) at column 2 cannot be written"},
        {"嚜濃\n2\n3\n4\n5\n6\n",
         "m.txt:1: error: its Big5 bytes begin with EF BB BF, the UTF-8 byte-order mark"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        Findings findings;
        EXPECT_EQ(ConvertMessages(input, "m.txt", findings), "");
        ASSERT_FALSE(findings.errors.empty());
        EXPECT_EQ(Describe(findings.errors[0], "error").substr(0, expected.size()), expected);
    }
}

TEST(Messages, LinesWiderThanList1AndExtraLinesAreWarnedAbout) {
    const auto width = List1TextWidthAt96Dpi();
    EXPECT_EQ(width, 340);  // 361 px of list box, less borders and scroll bar
    EXPECT_EQ(EstimatedWidthAt96Dpi(U"ab中"), 24);

    std::string fitting;
    for (int i = 0; i < 28; ++i) fitting += "中";  // 336 px
    const auto tooWide = fitting + "中";
    Findings findings;
    ConvertMessages("1\n2\n" + fitting + "\n" + tooWide + "\n5\n\n7\n", "m.txt", findings);
    EXPECT_FALSE(findings.Refused());
    ASSERT_EQ(findings.warnings.size(), 3U) << AllReasons(findings.warnings);
    EXPECT_EQ(findings.warnings[0].line, 7);  // never shown
    EXPECT_EQ(findings.warnings[1].line, 4);
    EXPECT_EQ(Describe(findings.warnings[2], "warning"),
              "m.txt:6: warning: the failure line is empty: the window shows an empty row there "
              "(nothing at all when an update fails)");
    EXPECT_NE(findings.warnings[1].reason.find("closing line is about 348 px wide"),
              std::string::npos);
    EXPECT_NE(findings.warnings[1].reason.find("estimated from the character count"),
              std::string::npos);
}

// --- Certificate and key -------------------------------------------------------------------

class CertificateAndKey : public ::testing::Test {
protected:
    Findings Check(const std::string& certificateFile, const std::string& keyFile,
                   bool allowNotYetValid = false) const {
        Findings findings;
        CheckCredentials({"cert.pem", certificateFile, "key.pem", keyFile}, {now, allowNotYetValid},
                         findings);
        return findings;
    }
    std::time_t now = std::time(nullptr);
    Key key = NewKey();
    std::string certificate = CertificatePem(key.get(), now, -3600, 365 * kDay);
};

TEST_F(CertificateAndKey, MatchingValidPairPasses) {
    const auto findings = Check(certificate, PrivateKeyPem(key.get()));
    EXPECT_TRUE(findings.errors.empty()) << AllReasons(findings.errors);
    EXPECT_TRUE(findings.warnings.empty());
}

TEST_F(CertificateAndKey, EachRefusalHasItsOwnMessage) {
    const auto otherKey = NewKey();
    const std::string prefix = "Some notes\n";
    struct Case {
        const char* name;
        std::string certificate, key, expected;
    };
    const Case cases[] = {
        {"certificate not PEM", "not a certificate", PrivateKeyPem(key.get()),
         "cert.pem:1: error: not a PEM X.509 certificate"},
        {"certificate file holds a key", PrivateKeyPem(key.get()), PrivateKeyPem(key.get()),
         "cert.pem:1: error: not a PEM X.509 certificate"},
        {"key not PEM", certificate, prefix + "garbage", "key.pem:1: error: not a PEM private key"},
        {"key file holds the certificate", certificate, certificate,
         "key.pem:1: error: not a PEM private key"},
        {"encrypted key", certificate, prefix + EncryptedPrivateKeyPem(key.get()),
         "key.pem:2: error: the private key is encrypted with a passphrase"},
        {"key of another pair", certificate, PrivateKeyPem(otherKey.get()),
         "key.pem:1: error: the private key does not belong to the certificate cert.pem"},
        {"expired", CertificatePem(key.get(), now, -30 * kDay, -60), PrivateKeyPem(key.get()),
         "cert.pem:1: error: the certificate expired on "},
        {"not yet valid", CertificatePem(key.get(), now, 3600, kDay), PrivateKeyPem(key.get()),
         "cert.pem:1: error: the certificate is not valid before "},
    };
    for (const auto& [name, certificateFile, keyFile, expected] : cases) {
        SCOPED_TRACE(name);
        const auto findings = Check(certificateFile, keyFile);
        ASSERT_EQ(findings.errors.size(), 1U) << AllReasons(findings.errors);
        EXPECT_EQ(Describe(findings.errors[0], "error").substr(0, expected.size()), expected);
    }
}

TEST_F(CertificateAndKey, NotYetValidAndExpiringSoonAreOnlyWarnings) {
    const auto future = CertificatePem(key.get(), now, 3600, 365 * kDay);
    const auto findings = Check(future, PrivateKeyPem(key.get()), true);
    EXPECT_TRUE(findings.errors.empty()) << AllReasons(findings.errors);
    ASSERT_EQ(findings.warnings.size(), 1U);
    EXPECT_NE(findings.warnings[0].reason.find("not valid before"), std::string::npos);
    const auto soon =
        Check(CertificatePem(key.get(), now, -3600, 29 * kDay), PrivateKeyPem(key.get()));
    EXPECT_TRUE(soon.errors.empty()) << AllReasons(soon.errors);
    ASSERT_EQ(soon.warnings.size(), 1U);
    EXPECT_NE(soon.warnings[0].reason.find("within 30 days: the product breaks"),
              std::string::npos);
    // A signing certificate: what matters is the timestamp of the signature made.
    const auto signing = CertificatePem(key.get(), now, -3600, 29 * kDay, "codeSigning");
    Findings checked;
    CheckCredentials({"sign.pem", signing, "key.pem", PrivateKeyPem(key.get())}, {now, false, true},
                     checked);
    EXPECT_TRUE(checked.warnings.empty()) << AllReasons(checked.warnings);
    const std::pair<Timestamp, const char*> timestamps[] = {
        {Timestamp::None, "signed without --timestamp-url"},
        {Timestamp::Unverified, "the exe's timestamp does not verify"},
        {Timestamp::Verified, "the timestamped signature stays"}};
    for (const auto& [timestamp, expected] : timestamps) {
        Findings said;
        WarnAboutTheTimestamp({"sign.pem", signing, {}, {}}, timestamp, now, said);
        ASSERT_EQ(said.warnings.size(), 1U) << expected;
        EXPECT_NE(said.warnings[0].reason.find(expected), std::string::npos)
            << said.warnings[0].reason;
    }
}

std::string Relabelled(std::string pem, const std::string& label) {
    const auto begin = pem.find("-----BEGIN ") + 11, end = pem.find("-----", begin);
    const auto old = pem.substr(begin, end - begin);
    for (auto at = pem.find(old); at != std::string::npos; at = pem.find(old, at + label.size())) {
        pem.replace(at, old.size(), label);
    }
    return pem;
}

std::string Indented(std::string pem) {
    for (auto at = pem.find('\n'); at + 1 < pem.size(); at = pem.find('\n', at + 2)) {
        if (pem[at + 1] != '-') pem.insert(at + 1, " ");
    }
    return pem;
}

// Whatever the builder accepts, the exe accepts, and the other way round: the same pairs through
// both.
TEST_F(CertificateAndKey, WhatTheBuilderAcceptsTheExeAccepts) {
    const auto rsa = NewRsaKey();
    const auto p384 = NewKey("P-384");
    const auto ed25519 = NewEd25519Key();
    const auto valid = [&](EVP_PKEY* k) { return CertificatePem(k, now, -3600, 365 * kDay); };
    const std::pair<std::string, std::string> pairs[] = {
        {certificate, PrivateKeyPem(key.get())},
        {certificate + valid(rsa.get()),
         ParametersPem(key.get()) + TraditionalPrivateKeyPem(key.get())},
        {valid(rsa.get()), TraditionalPrivateKeyPem(rsa.get())},
        {valid(rsa.get()), PrivateKeyPem(rsa.get())},
        {valid(p384.get()), TraditionalPrivateKeyPem(p384.get())},
        {valid(ed25519.get()), PrivateKeyPem(ed25519.get())},
        {valid(rsa.get()), PrivateKeyPem(key.get())},                                  // mismatched
        {CertificatePem(key.get(), now, -kDay * 9, -kDay), PrivateKeyPem(key.get())},  // expired
        // What OpenSSL reads past, and the exe does not.
        {certificate + PrivateKeyPem(key.get()), PrivateKeyPem(key.get())},
        {Relabelled(certificate, "X509 CERTIFICATE"), PrivateKeyPem(key.get())},
        {Indented(certificate), PrivateKeyPem(key.get())},
        {certificate, PrivateKeyPem(key.get()) + certificate},
        {certificate, PrivateKeyPem(key.get()) + PrivateKeyPem(key.get())},
        {certificate, Relabelled(TraditionalPrivateKeyPem(key.get()), "DSA PRIVATE KEY")},
    };
    int accepted = 0;
    for (const auto& [certificateFile, keyFile] : pairs) {
        SCOPED_TRACE(certificateFile + keyFile);
        const bool tool = Check(certificateFile, keyFile).errors.empty();
        CheckedPair incoming{certificateFile, keyFile};
        bool exe = true;
        try {
            CheckPairContent(incoming, L"data1.bin", L"data2.bin", now);
        } catch (const SystemError&) {
            exe = false;
        }
        EXPECT_EQ(tool, exe);
        accepted += tool ? 1 : 0;
    }
    EXPECT_EQ(accepted, 6) << "the mismatched, expired and malformed files are refused by both";
}

TEST_F(CertificateAndKey, ASigningCertificateMustBeForCodeSigningWithAChainThatVerifies) {
    const auto signing = CertificatePem(key.get(), now, -60, kDay, "codeSigning");
    const auto other = NewKey();
    const auto expired = CertificatePem(other.get(), now, -9 * kDay, -kDay);
    const std::pair<std::string, std::string> cases[] = {
        {signing, ""},
        {CertificatePem(key.get(), now, -60, kDay, "serverAuth"), "not for code signing"},
        {certificate, "not for code signing"},  // no extended key usage at all
        {signing + expired, "certificate 2 of the chain expired on"},
        {signing + expired, "certificate 1 of the chain is not issued by certificate 2"},
        {expired + signing, "the chain is in the wrong order: the key belongs to certificate 2"},
        {CertificatePem(key.get(), now, kDay, 9 * kDay, "codeSigning"), "not valid before"},
    };
    for (const auto& [signingCertificate, expected] : cases) {
        SCOPED_TRACE(expected);
        Findings findings;
        CheckCredentials({"sign.pem", signingCertificate, "key.pem", PrivateKeyPem(key.get())},
                         {now, false, true}, findings);
        const auto reasons = AllReasons(findings.errors);
        EXPECT_EQ(reasons.empty(), expected.empty()) << reasons;
        EXPECT_NE(reasons.find(expected), std::string::npos) << reasons;
        EXPECT_EQ(reasons.find("--allow-not-yet-valid"), std::string::npos) << "does not apply";
        EXPECT_EQ(reasons.find("does not belong"), std::string::npos) << reasons;
    }
}

// --- The package ---------------------------------------------------------------------------

std::string ReadBytes(const fs::path& path) {
    std::ifstream in{path, std::ios::binary};
    return {std::istreambuf_iterator<char>{in}, {}};
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream{path, std::ios::binary}.write(bytes.data(),
                                                static_cast<std::streamsize>(bytes.size()));
}

// Whether the process ends (or is a zombie) within a minute.
bool Ends(pid_t process) {
    for (int wait = 0; wait < 6000; ++wait, ::usleep(10000)) {
        const auto stat = ReadBytes("/proc/" + std::to_string(process) + "/stat");
        if (stat.empty() || stat.find(") Z ") != std::string::npos) return true;
    }
    return false;
}

void PutLittle(std::string& bytes, std::size_t at, std::uint32_t value, int size = 4) {
    for (int i = 0; i < size; ++i, value >>= 8) bytes[at + i] = static_cast<char>(value & 0xFF);
}

// A PE32 file for the machine, with one section (.rsrc, at file offset 0x200) that holds the
// resources and, at kSlotAt, an empty digest slot: what the builder looks at.
constexpr std::size_t kSlotAt = 0x210;
std::string ExecutableFor(std::uint16_t machine) {
    std::string exe(0x400, '\0');
    exe[0] = 'M', exe[1] = 'Z', exe[0x3C] = 0x40;
    exe.replace(0x40, 4, std::string_view{"PE\0\0", 4});
    PutLittle(exe, 0x44, machine, 2);
    PutLittle(exe, 0x46, 1, 2);                                 // one section
    PutLittle(exe, 0x54, 0xE0, 2);                              // the optional header's size
    PutLittle(exe, 0x58, 0x10B, 2);                             // PE32
    PutLittle(exe, 0x58 + 68, 2, 2);                            // a Windows GUI program
    PutLittle(exe, 0xB4, 16);                                   // data directories
    PutLittle(exe, 0xC8, 0x1000), PutLittle(exe, 0xCC, 0x100);  // the resources' RVA and size
    exe.replace(0x138, 5, ".rsrc");
    PutLittle(exe, 0x140, 0x200), PutLittle(exe, 0x144, 0x1000);  // virtual size and address
    PutLittle(exe, 0x148, 0x200), PutLittle(exe, 0x14C, 0x200);   // raw size and offset
    exe.replace(kSlotAt, kDigestSlotSize, EmptyDigestSlot());
    return exe;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::path{::testing::TempDir()} /
                 ("kdu-package-" +
                  std::string{::testing::UnitTest::GetInstance()->current_test_info()->name()});
        fs::remove_all(folder);
        fs::create_directories(folder);
        const auto key = NewKey();
        certificate = CertificatePem(key.get(), std::time(nullptr), -60, 365 * kDay);
        privateKey = PrivateKeyPem(key.get());
        WriteBytes(inputs.certificate = folder / "new-cert.pem", certificate);
        WriteBytes(inputs.key = folder / "new-key.pem", privateKey);
        WriteBytes(inputs.messages = folder / "messages.txt", kSixLines);
        WriteBytes(inputs.executable = folder / "KestovaDesktopUpdater.exe", ExecutableFor(0x14C));
        inputs.now = std::time(nullptr);
    }
    void TearDown() override { fs::remove_all(folder); }

    // The command line tool, as support staff run it, its output in output.txt.
    std::string ToolCommand(const std::string& extra) const {
        return std::string{KDU_PACKAGE_TOOL} + " --certificate " + inputs.certificate.string() +
               " --key " + inputs.key.string() + " --messages " + inputs.messages.string() +
               " --exe " + inputs.executable.string() + " --out " + (folder / "dist").string() +
               extra + " >" + (folder / "output.txt").string() + " 2>&1";
    }
    // Its exit code.
    int RunTool(const std::string& extra = {}) const {
        const int status = std::system(ToolCommand(extra).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path folder;
    PackageInputs inputs;
    std::string certificate, privateKey;
};

TEST_F(Package, HoldsTheFourFilesByteForByteAndTheirSums) {
    Findings findings;
    const auto files = PreparePackage(inputs, findings);
    ASSERT_FALSE(findings.Refused()) << AllReasons(findings.errors);
    ASSERT_EQ(files.size(), 5U);
    EXPECT_EQ(files[0].name, "KestovaDesktopUpdater.exe");
    EXPECT_EQ(files[1].content, certificate);
    EXPECT_EQ(files[2].content, privateKey);
    EXPECT_EQ(files[3].content.substr(0, 8), "\xC5\x77\xAA\xEF\xA8\xCF\xA5\xCE");  // 歡迎使用
    EXPECT_EQ(files[4].name, "SHA256SUMS");
    const auto firstSum = Sha256Hex(files[0].content) + "  KestovaDesktopUpdater.exe\n";
    EXPECT_EQ(files[4].content.substr(0, firstSum.size()), firstSum);
    // The digests are in the exe, which is otherwise as given.
    auto exe = files[0].content;
    EXPECT_EQ(
        ReadDigestSlot(std::string_view{files[0].content}.substr(kSlotAt, kDigestSlotSize), {}),
        (PackageDigests{Sha256Of(certificate), Sha256Of(privateKey), Sha256Of(files[3].content)}));
    EXPECT_EQ(exe.replace(kSlotAt, kDigestSlotSize, EmptyDigestSlot()), ExecutableFor(0x14C));
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(Package, OnlyThe32BitExecutableIsPackaged) {
    auto pointingOutside = ExecutableFor(0x14C);
    pointingOutside.replace(0x3C, 4, "\xFC\xFF\xFF\xFF");  // PE header offset 0xFFFFFFFC
    auto alreadySigned = ExecutableFor(0x14C);
    PutLittle(alreadySigned, 0xD8, 0x400), PutLittle(alreadySigned, 0xDC, 0x10);
    auto noSlot = ExecutableFor(0x14C);
    noSlot[kSlotAt] = 'X';
    auto twoSlots = ExecutableFor(0x14C);
    twoSlots.replace(kSlotAt + kDigestSlotSize, kDigestSlotSize, EmptyDigestSlot());
    auto slotOutsideResources = noSlot;
    slotOutsideResources.replace(0x180, kDigestSlotSize, EmptyDigestSlot());
    auto dll = ExecutableFor(0x14C);
    PutLittle(dll, 0x56, 0x2102, 2);  // executable, 32-bit, DLL
    auto console = ExecutableFor(0x14C);
    PutLittle(console, 0x58 + 68, 3, 2);
    const auto head = ExecutableFor(0x14C).substr(0, 0x300);  // the slot is there, the end not
    const std::pair<std::string, std::string> cases[] = {
        {dll, "a DLL, not the KestovaDesktopUpdater.exe program"},
        {console, "not a Windows GUI program"},
        {head, "cut short: a section ends at byte 1024, but the file has 768"},
        {alreadySigned, "is already signed"},
        {noSlot, "has 0 package digest slots"},
        {twoSlots, "has 2 package digest slots"},
        {slotOutsideResources, "has 0 package digest slots"},
        {ExecutableFor(0x8664), "not the 32-bit (i686) build"},
        {pointingOutside, "not a Windows executable"},
        {"MZ", "not a Windows executable"},
        {"", "not a Windows executable"},
    };
    for (const auto& [exe, expected] : cases) {
        SCOPED_TRACE(expected);
        WriteBytes(inputs.executable, exe);
        Findings findings;
        PreparePackage(inputs, findings);
        ASSERT_EQ(findings.errors.size(), 1U) << AllReasons(findings.errors);
        EXPECT_NE(findings.errors[0].reason.find(expected), std::string::npos);
    }
}

TEST_F(Package, ToolWritesTheFolderAndAZipThatUnpacksToIt) {
    const auto name = PackageName(certificate);
    // A key others can read, as a checkout's is, and a link planted where the zip is first
    // written.
    fs::permissions(inputs.key, fs::perms::owner_read | fs::perms::owner_write |
                                    fs::perms::group_read | fs::perms::others_read);
    fs::create_directories(folder / "dist");
    WriteBytes(folder / "victim.txt", "not to be overwritten");
    fs::create_symlink(folder / "victim.txt", folder / "dist" / (name + ".zip.partial"));
    ASSERT_EQ(RunTool(), 0) << ReadBytes(folder / "output.txt");
    const auto output = ReadBytes(folder / "output.txt");
    EXPECT_EQ(ReadBytes(folder / "victim.txt"), "not to be overwritten");
    for (const auto& written :
         {folder / "dist" / name / "data2.bin", folder / "dist" / (name + ".zip")}) {
        EXPECT_EQ(fs::status(written).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write)
            << written;
    }
    EXPECT_NE(output.find("data2.bin and the zip are mode 0600"), std::string::npos) << output;
    EXPECT_NE(output.find("new-key.pem: warning: the private key is readable by others than its "
                          "owner (mode 0644)"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find(name + ".zip"), std::string::npos) << output;
    const auto package = folder / "dist" / name;
    EXPECT_EQ(ReadBytes(package / "data1.bin"), certificate);
    EXPECT_EQ(ReadBytes(package / "data2.bin"), privateKey);
    // sha256sum and Python's zipfile accept what was written; the zip records each file's mode.
    const auto checks = "cd " + package.string() + " && sha256sum --quiet -c SHA256SUMS && " +
                        "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                        "assert z.testzip() is None; print(*sorted((i.filename, "
                        "oct(i.external_attr >> 16)) for i in z.infolist()))\" " +
                        (folder / "dist" / (name + ".zip")).string() + " >" +
                        (folder / "names.txt").string();
    ASSERT_EQ(std::system(checks.c_str()), 0);
    std::string listed;
    for (const auto* file :
         {"KestovaDesktopUpdater.exe", "SHA256SUMS", "data1.bin", "data2.bin", "data3.bin"}) {
        const bool key = std::string_view{file} == "data2.bin";
        listed += (listed.empty() ? "('" : " ('") + name + "/" + file + "', '0o10" +
                  (key ? "0600" : "0644") + "')";
    }
    EXPECT_EQ(ReadBytes(folder / "names.txt"), listed + "\n");
    // Named by the certificate's start date and digest, so that a renewal's has another name;
    // its detection rules beside it, not in it.
    EXPECT_TRUE(name.starts_with("KestovaDesktopUpdater-1.00-")) << name;
    EXPECT_NE(name, PackageName(CertificatePem(NewKey().get(), inputs.now, -60, kDay)));
    const auto rules = ReadBytes(folder / "dist" / (name + ".detection.txt"));
    std::string version;
    for (const wchar_t c : DetectionVersionOf(certificate)) version += static_cast<char>(c);
    EXPECT_NE(rules.find("  Value: " + version + "\n"), std::string::npos) << rules;
}

// A rebuild replaces the previous package whole; a second build while one holds the folder's
// lock is refused, and the package stays as it was.
TEST_F(Package, ToolReplacesAPackageWholeAndOneBuildAtATime) {
    ASSERT_EQ(RunTool(), 0) << ReadBytes(folder / "output.txt");
    const auto dist = folder / "dist";
    const auto package = dist / PackageName(certificate);
    WriteBytes(package / "stale.txt", "from an earlier build");
    ASSERT_EQ(RunTool(), 0) << ReadBytes(folder / "output.txt");
    EXPECT_FALSE(fs::exists(package / "stale.txt"));
    const int lock = ::open((dist / ".kestova-package.lock").c_str(), O_RDWR);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    WriteBytes(package / "stale.txt", "kept");
    EXPECT_EQ(RunTool(), 1);
    ::close(lock);
    EXPECT_NE(ReadBytes(folder / "output.txt").find("another kestova-package is writing"),
              std::string::npos);
    EXPECT_EQ(ReadBytes(package / "stale.txt"), "kept");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator{dist}) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    const auto name = PackageName(certificate);
    EXPECT_EQ(names, (std::vector<std::string>{".kestova-package.lock", name,
                                               name + ".detection.txt", name + ".zip"}))
        << "nothing set aside or half written is left";
}

TEST_F(Package, ToolRefusesWithEveryReasonAndWritesNothing) {
    WriteBytes(inputs.key, PrivateKeyPem(NewKey().get()));
    WriteBytes(inputs.messages, "1\n2\n3\n");
    // Signing with the product's certificate, which is not for code signing.
    EXPECT_EQ(RunTool(" --sign-certificate " + inputs.certificate.string() + " --sign-key " +
                      inputs.key.string()),
              1);
    const auto output = ReadBytes(folder / "output.txt");
    EXPECT_NE(output.find("new-key.pem:1: error: the private key does not belong"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("messages.txt: error: has 3 lines"), std::string::npos) << output;
    EXPECT_NE(output.find("new-cert.pem:1: error: the certificate is not for code signing"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("refused, 4 errors; nothing was written"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder / "dist"));
}

TEST_F(Package, ToolCommandLineMistakesAreSaidAndHelpIsNoError) {
    const struct {
        std::string arguments;
        int exitCode;
        std::string said;  // on standard output for --help, else on standard error
    } cases[] = {
        {" --help", 0, "usage: kestova-package"},
        {" --key x", 2, "error: --certificate, --key, --messages and --out are needed"},
        {" --out --exe x", 2, "error: --out needs a value"},
        {" --certificate a --key b --messages c --out d --timestamp-url u", 2,
         "error: signing needs --sign-certificate and either --sign-key or --sign-command"},
        {" --certificate a --key b --messages c --out d --sign-certificate s --sign-key k"
         " --sign-command c",
         2, "error: signing needs --sign-certificate and either --sign-key or --sign-command"},
        {" --certificate a --key b --messages c --out d --sign-certificate s --sign-key pkcs11:x",
         2, "error: a PKCS#11 key (--sign-key pkcs11:...) needs --pkcs11-module"},
        {" --certificate a --key b --messages c --out d --sign-certificate s --pkcs11-module m"
         " --sign-key 'pkcs11:token=t;pin-value=40273'",
         2, "give it in the environment variable KESTOVA_PKCS11_PIN or in a file named by"},
        {" --certificate a --key b --messages c --out d --sign-certificate s --sign-command"
         " 'sign $fpr'",
         2, "error: --sign-command must name the exe to sign"},
    };
    for (const auto& [arguments, exitCode, said] : cases) {
        SCOPED_TRACE(arguments);
        const auto output = folder / "output.txt";
        const auto command = KDU_PACKAGE_TOOL + arguments + " >" + output.string() +
                             (exitCode == 0 ? " 2>/dev/null" : " 2>&1");
        EXPECT_EQ(std::system(command.c_str()) >> 8, exitCode);
        EXPECT_NE(ReadBytes(output).find(said), std::string::npos) << ReadBytes(output);
        EXPECT_EQ(ReadBytes(output).find("40273"), std::string::npos) << "the PIN is not said";
    }
}

// --- Signing -------------------------------------------------------------------------------

// The PIN reaches osslsigncode (a stand-in here) through a pipe, from the environment or a file
// (its newline dropped): in no process's command line, and never said.
TEST_F(Package, ToolGivesThePinOnlyThroughAPipe) {
    const auto bin = folder / "bin";
    fs::create_directories(bin);
    WriteBytes(
        bin / "osslsigncode",
        "#!/bin/sh\nd=$(dirname \"$0\")\ncat /proc/[0-9]*/cmdline >\"$d/cmdlines\" 2>/dev/null\n"
        "while [ $# -gt 0 ]; do [ \"$1\" = -readpass ] && cat \"$2\" >\"$d/pin\"; shift; done\n"
        "echo \"PIN incorrect: $(cat \"$d/pin\")\" >&2; exit 1\n");
    fs::permissions(bin / "osslsigncode", fs::perms::owner_all);
    WriteBytes(folder / "sign.pem",
               CertificatePem(NewKey().get(), inputs.now, -60, kDay, "codeSigning"));
    WriteBytes(folder / "pin.txt", "40273-pin\n");
    const char* searched = std::getenv("PATH");
    const std::string path = searched ? searched : "";
    ::setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    for (const bool inFile : {false, true}) {
        SCOPED_TRACE(inFile);
        ::setenv("KESTOVA_PKCS11_PIN", inFile ? "not this one" : "40273-pin", 1);
        fs::remove(bin / "pin");
        EXPECT_EQ(RunTool(" --sign-certificate " + (folder / "sign.pem").string() +
                          " --sign-key pkcs11:token=t --pkcs11-module m.so" +
                          (inFile ? " --pkcs11-pin-file " + (folder / "pin.txt").string() : "")),
                  1);
        EXPECT_EQ(ReadBytes(bin / "pin"), "40273-pin");
        EXPECT_NE(ReadBytes(bin / "cmdlines").find("pkcs11:token=t"), std::string::npos);
        EXPECT_EQ(ReadBytes(bin / "cmdlines").find("40273"), std::string::npos);
        const auto output = ReadBytes(folder / "output.txt");
        EXPECT_NE(output.find("PIN incorrect: (the PIN)"), std::string::npos) << output;
        EXPECT_EQ(output.find("40273"), std::string::npos) << output;
    }
    ::setenv("PATH", path.c_str(), 1);
    ::unsetenv("KESTOVA_PKCS11_PIN");
}

// Ctrl-C or SIGTERM during signing ends the sign command's whole process group and removes the
// work folder; the previous package stays as it was.
TEST_F(Package, ToolInterruptedEndsTheSignCommandAndKeepsThePackage) {
    ASSERT_EQ(RunTool(), 0) << ReadBytes(folder / "output.txt");
    const auto zip = folder / "dist" / (PackageName(certificate) + ".zip");
    const auto previous = ReadBytes(zip);
    WriteBytes(folder / "sign.pem",
               CertificatePem(NewKey().get(), inputs.now, -60, kDay, "codeSigning"));
    const auto started = folder / "started.txt";
    for (const int signal : {SIGINT, SIGTERM}) {
        fs::remove(started);
        const auto command =
            "exec " +
            ToolCommand(" --sign-certificate " + (folder / "sign.pem").string() +
                        " --sign-command 'sleep 600 & echo $$ $! \"$(dirname \"$1\")\" >" +
                        started.string() + "; wait'");
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        pid_t tool = 0;
        ASSERT_EQ(
            posix_spawn(&tool, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        for (int wait = 0; wait < 6000 && ReadBytes(started).find('\n') == std::string::npos;
             ++wait) {
            ::usleep(10000);
        }
        pid_t shell = 0, sleeper = 0;
        std::string work;
        std::istringstream{ReadBytes(started)} >> shell >> sleeper >> work;
        ::kill(tool, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(tool, &status, 0), tool);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(Ends(shell) && Ends(sleeper)) << "the group is ended";
        EXPECT_FALSE(fs::exists(work)) << work;
        EXPECT_EQ(ReadBytes(zip), previous);
        EXPECT_NE(ReadBytes(folder / "output.txt").find("interrupted"), std::string::npos);
    }
}

TEST(Signing, ASignatureIsAddedAsOneCertificateTableEntry) {
    const auto before = ExecutableFor(0x14C);
    const std::string signature{"\x30\x03\x02\x01\x00", 5};  // a DER SEQUENCE
    const auto signedWith = [&](std::uint32_t length, std::uint32_t revisionAndType,
                                const std::string& table) {
        auto after = before + std::string(8, '\0') + table;
        PutLittle(after, 0x400, length), PutLittle(after, 0x404, revisionAndType);
        PutLittle(after, 0xD8, 0x400), PutLittle(after, 0xDC, 8 + table.size());
        return after;
    };
    constexpr std::uint32_t kPkcs7 = 0x00020200;  // revision 2.0, PKCS#7 signed data
    const auto padding = std::string(3, '\0');
    EXPECT_TRUE(OnlyASignatureAdded(before, signedWith(13, kPkcs7, signature + padding)));
    EXPECT_TRUE(OnlyASignatureAdded(before, signedWith(16, kPkcs7, signature + padding)));
    EXPECT_FALSE(OnlyASignatureAdded(before, signedWith(13, 0x00020100, signature + padding)));
    EXPECT_FALSE(OnlyASignatureAdded(before, signedWith(13, 0x00010200, signature + padding)));
    EXPECT_FALSE(
        OnlyASignatureAdded(before, signedWith(13, kPkcs7, signature + std::string{"\0\0\1", 3})));
    EXPECT_FALSE(
        OnlyASignatureAdded(before, signedWith(16, kPkcs7, "\x30\x09" + padding + padding)));
    auto twoEntries =
        signedWith(13, kPkcs7, signature + padding + std::string(8, '\0') + signature + padding);
    PutLittle(twoEntries, 0x410, 13), PutLittle(twoEntries, 0x414, kPkcs7);
    EXPECT_FALSE(OnlyASignatureAdded(before, twoEntries));
}

// The exe's path as one word, whatever it holds, as "$1", $KESTOVA_SIGN_FILE and $f, quoted or
// not; $f only where the shell would expand it, as a whole word.
TEST(Signing, TheSignCommandGetsTheExeAsOneWord) {
    const std::string exe = "/tmp/a b'c";
    const auto log = fs::path{::testing::TempDir()} / "sign-command.txt";
    const auto command = ShellCommand(
        R"(printf '[%s]' "$1" "$KESTOVA_SIGN_FILE" $f "$f" ${f}.signed $fpr '$f' \$f)");
    EXPECT_EQ(RunProgram({"sh", "-c", command, "sh", exe}, log, std::chrono::seconds{60},
                         {{"KESTOVA_SIGN_FILE=" + exe}, {}})
                  .exitCode,
              0);
    const auto word = "[" + exe + "]";
    EXPECT_EQ(ReadBytes(log), word + word + word + word + "[" + exe + ".signed][$f][$f]");
}

// At the time limit the program's whole process group is ended.
TEST(Signing, AProgramPastItsTimeLimitIsEndedWithItsGroup) {
    const auto log = fs::path{::testing::TempDir()} / "time-limit.txt";
    EXPECT_TRUE(RunProgram({"sh", "-c", "sleep 600 & echo $!; wait"}, log, std::chrono::seconds{1})
                    .endedAtTimeLimit);
    EXPECT_TRUE(Ends(std::stoi(ReadBytes(log))));
}

TEST(Zip, Crc32IsTheStandardOne) { EXPECT_EQ(Crc32("123456789"), 0xCBF43926U); }

}  // namespace
}  // namespace kdu::package
