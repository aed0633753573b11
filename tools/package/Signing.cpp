#include "tools/package/Signing.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>

#include "resources/version.h"
#include "tools/package/Authenticode.h"
#include "tools/package/PeImage.h"
#include "tools/package/Process.h"
#include "tools/package/SignCommand.h"

namespace kdu::package {
namespace fs = std::filesystem;
namespace {

using std::chrono::seconds;

// A slow token, signing service or timestamp server must not hold a build up for ever.
constexpr seconds kSigningLimit{300};
constexpr seconds kTimestampLimit{60};  // each try of each timestamp server
constexpr int kTimestampTries = 2;

std::string ReadAll(const fs::path& path) {
    std::ifstream in{path, std::ios::binary};
    return {std::istreambuf_iterator<char>{in}, {}};
}

// What went wrong running a signing program within its limit; empty if it succeeded.
std::string RunWithinTimeLimit(std::vector<std::string> command, const std::string& name,
                               const fs::path& log, seconds limit,
                               const ProgramInputs& inputs = {}) {
    const auto outcome = RunProgram(std::move(command), log, limit, inputs);
    if (!outcome.started) return "cannot run " + name + " (install it: scripts/setup.sh)";
    if (outcome.endedAtTimeLimit) {
        return name + " was ended after " + std::to_string(limit.count()) +
               " s (a slow timestamp server?)";
    }
    if (outcome.exitCode == 0) return {};
    const auto causes = Causes(ReadAll(log));
    return name + " failed (" +
           (outcome.exitCode < 0 ? "ended by a signal"
                                 : "exit code " + std::to_string(outcome.exitCode)) +
           ")" + (causes.empty() ? "" : ": " + causes);
}

// A private folder for the unsigned and signed copies, removed with everything in it.
class WorkFolder {
public:
    WorkFolder() {
        std::string pattern = (fs::temp_directory_path() / "kestova-sign-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    ~WorkFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// The token's PIN: the PIN file's content but one final newline (echo writes one), else
// KESTOVA_PKCS11_PIN, else none (the token's own way); nothing if the PIN file cannot be read.
std::optional<std::string> TokenPin(const SigningInputs& signing) {
    if (!signing.KeyOnToken()) return std::string{};
    if (signing.pinFile.empty()) {
        const char* pin = std::getenv("KESTOVA_PKCS11_PIN");
        return std::string{pin ? pin : ""};
    }
    std::ifstream in{signing.pinFile, std::ios::binary};
    if (!in) return std::nullopt;
    std::string pin{std::istreambuf_iterator<char>{in}, {}};
    if (pin.ends_with('\n')) pin.pop_back();
    return pin;
}

std::string Redacted(std::string text, const std::string& secret) {
    if (secret.empty()) return text;
    for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
        text.replace(at, secret.size(), "(the PIN)");
    }
    return text;
}

// The signing time where builds are to be reproducible (SOURCE_DATE_EPOCH, in seconds).
std::string SourceDateEpoch() {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    const std::string_view text = epoch ? epoch : "";
    const bool number = !text.empty() && text.find_first_not_of("0123456789") == text.npos;
    return number ? std::string{text} : std::string{};
}

// Timestamps the signed copy: each server in turn, each tried twice within a limit of its own.
std::string TimestampInPlace(const fs::path& path, const SigningInputs& signing,
                             const fs::path& log) {
    if (signing.timestampUrls.empty()) return {};
    const auto stamped = path.string() + ".timestamped";
    std::string failures;
    for (const auto& url : signing.timestampUrls) {
        std::string failure;
        for (int attempt = 0; attempt < kTimestampTries; ++attempt) {
            failure = RunWithinTimeLimit({"osslsigncode", "add", "-ts", url, "-h", "sha256", "-in",
                                          path.string(), "-out", stamped},
                                         "osslsigncode", log, kTimestampLimit);
            if (failure.empty()) {
                fs::rename(stamped, path);
                return {};
            }
        }
        failures += (failures.empty() ? "" : "; ") + url;
        failures += ": " + failure;
    }
    return "no timestamp server answered (" + failures + ")";
}

// What signing the copy at path in place failed with; empty if it succeeded. The PIN goes
// through a pipe that only osslsigncode reads.
std::string SignInPlace(const fs::path& path, const SigningInputs& signing, const std::string& pin,
                        const fs::path& log) {
    if (!signing.command.empty()) {
        return RunWithinTimeLimit({"sh", "-c", ShellCommand(signing.command), "sh", path.string()},
                                  "the sign command", log, kSigningLimit,
                                  {{"KESTOVA_SIGN_FILE=" + path.string()}, {}});
    }
    const auto signed_ = path.string() + ".signed";
    std::vector<std::string> command{"osslsigncode", "sign",
                                     "-certs",       signing.certificate.string(),
                                     "-key",         signing.key.string()};
    if (signing.KeyOnToken()) {
        command.insert(command.end(), {"-pkcs11module", signing.pkcs11Module});
    }
    if (!pin.empty()) command.insert(command.end(), {"-readpass", "/dev/fd/3"});
    command.insert(command.end(), {"-h", "sha256", "-n", KDU_PRODUCT_NAME});
    // Untimestamped, the signature then holds nothing that differs from one build to the next.
    if (const auto epoch = SourceDateEpoch(); !epoch.empty() && signing.timestampUrls.empty()) {
        command.insert(command.end(), {"-time", epoch});
    }
    command.insert(command.end(), {"-in", path.string(), "-out", signed_});
    if (auto failure = RunWithinTimeLimit(command, "osslsigncode", log, kSigningLimit, {{}, pin});
        !failure.empty()) {
        return failure;
    }
    fs::rename(signed_, path);
    return TimestampInPlace(path, signing, log);
}

// The system's trust store as OpenSSL takes it: SSL_CERT_FILE where it is set, else the CA
// bundle of Debian and its kin.
fs::path TrustStore() {
    const char* file = std::getenv("SSL_CERT_FILE");
    return file && *file ? fs::path{file} : fs::path{"/etc/ssl/certs/ca-certificates.crt"};
}

// The PEM files given, one after the other, in one file (an empty name adds nothing).
fs::path Bundle(const fs::path& bundle, std::initializer_list<fs::path> parts) {
    std::ofstream out{bundle, std::ios::binary};
    for (const auto& part : parts) {
        if (!part.empty()) out << ReadAll(part) << "\n";
    }
    return bundle;
}

// osslsigncode 2.6 and later fetch the CRLs that certificates name unless told not to; 2.5
// fetches none, and knows no option for it.
bool FetchesCrls(const fs::path& log) {
    RunProgram({"osslsigncode", "--help"}, log, kTimestampLimit);
    return ReadAll(log).find("-ignore-crl") != std::string::npos;
}

// Verifies the signature as a user's system would: up the chain given, to a root in it or in the
// trust store, by the leaf given; revoked per --crl only (a signing host may be offline); then,
// where it is timestamped, as of a second after the leaf expires, which only a timestamp that
// verifies carries it past.
std::string Verify(const fs::path& program, const SigningInputs& signing,
                   const LeafCertificate& leaf, bool timestamped, Timestamp& timestamp,
                   const fs::path& work) {
    const auto log = work / "verify.txt";
    const bool fetches = FetchesCrls(log);
    const std::vector<std::string> verify{
        "osslsigncode",
        "verify",
        "-in",
        program.string(),
        "-CAfile",
        Bundle(work / "anchors.pem", {signing.certificate, TrustStore()}).string(),
        "-TSA-CAfile",
        Bundle(work / "timestamp-anchors.pem", {signing.timestampCa, TrustStore()}).string(),
        "-require-leaf-hash",
        "sha256:" + leaf.sha256};
    auto now = verify;
    if (!signing.crl.empty()) {
        now.insert(now.end(), {"-CRLfile", signing.crl.string()});
        if (fetches) now.emplace_back("-ignore-cdp");
    } else if (fetches) {
        now.emplace_back("-ignore-crl");
    }
    if (const auto failure = RunWithinTimeLimit(now, "osslsigncode verify", log, kSigningLimit);
        !failure.empty()) {
        return "the signed exe does not verify: " + failure;
    }
    timestamp = Timestamp::None;
    if (!timestamped) {
        return signing.timestampUrls.empty()
                   ? std::string{}
                   : "the sign command did not timestamp the signature, as --timestamp-url asks";
    }
    auto later = verify;
    later.insert(later.end(), {"-time", std::to_string(leaf.notAfter + 1)});
    if (fetches) later.emplace_back("-ignore-crl");
    const auto failure = RunWithinTimeLimit(later, "osslsigncode verify", log, kSigningLimit);
    timestamp = failure.empty() ? Timestamp::Verified : Timestamp::Unverified;
    if (failure.empty() || signing.timestampUrls.empty()) return {};
    return "its timestamp does not verify against the trust store or --timestamp-ca, so the "
           "signature would end with the certificate: " +
           failure;
}

Signed SignAndVerify(std::string_view exe, const SigningInputs& signing, const std::string& pin,
                     const fs::path& work) {
    const auto leaf = ReadLeaf(ReadAll(signing.certificate));
    if (!leaf) return {{}, "cannot read the signing certificate " + signing.certificate.string()};
    const auto program = work / KDU_FILE_NAME;
    const auto log = work / "sign.txt";
    std::ofstream{program, std::ios::binary}.write(exe.data(),
                                                   static_cast<std::streamsize>(exe.size()));
    if (const auto failure = SignInPlace(program, signing, pin, log); !failure.empty()) {
        return {{}, failure};
    }
    auto signedExe = ReadAll(program);
    if (!OnlyASignatureAdded(exe, signedExe)) {
        return {{},
                "the signed exe is not the program given with a signature added (its bytes, "
                "digest slot included, must stay as they are, the signature one certificate "
                "table entry)"};
    }
    const auto reading =
        ReadSignature(*OneSignatureEntry(signedExe, *ReadPeImage(signedExe)), *leaf);
    if (!reading.problem.empty()) return {{}, "the signature is refused: " + reading.problem};
    Signed result{std::move(signedExe), {}, Timestamp::None};
    result.failure = Verify(program, signing, *leaf, reading.timestamped, result.timestamp, work);
    if (!result.failure.empty()) result.executable.clear();
    return result;
}

}  // namespace

bool OnlyASignatureAdded(std::string_view before, std::string_view after) {
    const auto original = ReadPeImage(before);
    const auto image = ReadPeImage(after);
    if (!original || !image || original->signature.size != 0) return false;
    const std::size_t tableAt = image->signature.address;
    if (tableAt < before.size() || tableAt > after.size() ||
        image->signature.size != after.size() - tableAt || !OneSignatureEntry(after, *image)) {
        return false;
    }
    const auto padding = after.substr(before.size(), tableAt - before.size());
    if (padding.find_first_not_of('\0') != std::string_view::npos) return false;
    const auto allowed = [&](std::size_t at) {
        return (at >= image->checksumAt && at < image->checksumAt + 4) ||
               (at >= image->signatureEntryAt && at < image->signatureEntryAt + 8);
    };
    for (std::size_t at = 0; at < before.size(); ++at) {
        if (before[at] != after[at] && !allowed(at)) return false;
    }
    return true;
}

Signed SignExecutable(std::string_view exe, const SigningInputs& signing) {
    // Held first, so that an interruption ends what runs and removes the work folder before the
    // builder ends.
    const HeldSignals held;
    const WorkFolder work;
    if (work.Path().empty()) return {{}, "cannot make a temporary folder"};
    const auto pin = TokenPin(signing);
    if (!pin) return {{}, "cannot read the PIN file " + signing.pinFile.string()};
    auto result = SignAndVerify(exe, signing, *pin, work.Path());
    result.failure = Redacted(std::move(result.failure), *pin);
    return result;
}

}  // namespace kdu::package
