#include "tools/package/Signing.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "resources/version.h"
#include "tools/package/PeImage.h"

extern char** environ;

namespace kdu::package {
namespace fs = std::filesystem;
namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in{path, std::ios::binary};
    return {std::istreambuf_iterator<char>{in}, {}};
}

// Runs a program found on PATH with its output in log, without a shell: the paths are passed
// as they are. Its exit code, or -1 if it could not run.
int Run(std::vector<std::string> arguments, const fs::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

// A slow timestamp server must not hold a build up for ever.
constexpr char kTimeLimitSeconds[] = "300";

// What went wrong running a signing program, within the time limit; empty if it succeeded.
std::string RunWithinTimeLimit(std::vector<std::string> command, const std::string& name,
                               const fs::path& log) {
    command.insert(command.begin(), {"timeout", "--kill-after=10", kTimeLimitSeconds});
    const int exitCode = Run(command, log);
    constexpr int kTimedOut = 124;  // timeout's own codes
    constexpr int kCouldNotRun = 127;
    if (exitCode == kTimedOut) {
        return name + " did not finish within " + kTimeLimitSeconds +
               " s (a slow timestamp server?)";
    }
    if (exitCode == -1 || exitCode == kCouldNotRun) {
        return "cannot run " + name + " (install it: scripts/setup.sh)";
    }
    if (exitCode != 0)
        return name + " failed (exit code " + std::to_string(exitCode) + "): " + ReadAll(log);
    return {};
}

std::string RunOsslsigncode(std::vector<std::string> command, const fs::path& log) {
    return RunWithinTimeLimit(std::move(command), "osslsigncode", log);
}

// A path as one shell word.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string{"'\\''"} : std::string(1, c);
    return quoted + "'";
}

// The command with every "$f" replaced by the quoted path.
std::string WithFile(std::string command, const std::string& path) {
    const auto quoted = ShellQuoted(path);
    for (auto at = command.find("$f"); at != std::string::npos; at = command.find("$f", at)) {
        command.replace(at, 2, quoted);
        at += quoted.size();
    }
    return command;
}

// What signing the copy at path in place failed with; empty if it succeeded.
std::string SignInPlace(const fs::path& path, const SigningInputs& signing, const fs::path& log) {
    if (!signing.command.empty()) {
        return RunWithinTimeLimit({"sh", "-c", WithFile(signing.command, path.string())},
                                  "the sign command", log);
    }
    const auto signed_ = path.string() + ".signed";
    std::vector<std::string> command{"osslsigncode", "sign",
                                     "-certs",       signing.certificate.string(),
                                     "-key",         signing.key.string()};
    if (signing.KeyOnToken())
        command.insert(command.end(), {"-pkcs11module", signing.pkcs11Module});
    command.insert(command.end(), {"-h", "sha256", "-n", KDU_PRODUCT_NAME});
    if (!signing.timestampUrl.empty()) {
        command.insert(command.end(), {"-ts", signing.timestampUrl});
    }
    command.insert(command.end(), {"-in", path.string(), "-out", signed_});
    if (auto failure = RunOsslsigncode(command, log); !failure.empty()) return failure;
    fs::rename(signed_, path);
    return {};
}

// The system's trust store as OpenSSL takes it: SSL_CERT_FILE where it is set, else the CA
// bundle of Debian and its kin.
fs::path TrustStore() {
    const char* file = std::getenv("SSL_CERT_FILE");
    return file && *file ? fs::path{file} : fs::path{"/etc/ssl/certs/ca-certificates.crt"};
}

}  // namespace

bool OnlyASignatureAdded(std::string_view before, std::string_view after) {
    const auto original = ReadPeImage(before);
    const auto image = ReadPeImage(after);
    if (!original || !image || original->signature.size != 0) return false;
    const std::size_t tableAt = image->signature.address;
    if (tableAt < before.size() || tableAt > after.size() ||
        image->signature.size != after.size() - tableAt) {
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
    const WorkFolder work;
    if (work.Path().empty()) return {{}, "cannot make a temporary folder"};
    const auto program = work.Path() / KDU_FILE_NAME;
    const auto log = work.Path() / "sign.txt";
    std::ofstream{program, std::ios::binary}.write(exe.data(),
                                                   static_cast<std::streamsize>(exe.size()));
    if (const auto failure = SignInPlace(program, signing, log); !failure.empty()) {
        return {{}, failure};
    }
    auto signedExe = ReadAll(program);
    if (!OnlyASignatureAdded(exe, signedExe)) {
        return {{},
                "the signed exe is not the program given with a signature added (its bytes, "
                "digest slot included, must stay as they are)"};
    }
    // The signature is checked as a user's system would: up the chain given, to a root in it or
    // in the system's trust store.
    const auto anchors = work.Path() / "anchors.pem";
    {
        std::ofstream bundle{anchors, std::ios::binary};
        bundle << ReadAll(signing.certificate) << "\n" << ReadAll(TrustStore());
    }
    const auto verifyLog = work.Path() / "verify.txt";
    const auto verified = RunOsslsigncode(
        {"osslsigncode", "verify", "-in", program.string(), "-CAfile", anchors.string()},
        verifyLog);
    if (!verified.empty()) return {{}, "the signed exe does not verify: " + verified};
    return {std::move(signedExe), {}};
}

}  // namespace kdu::package
