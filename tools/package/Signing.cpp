#include "tools/package/Signing.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "resources/version.h"

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

// What went wrong running osslsigncode, within the time limit; empty if it succeeded.
std::string RunOsslsigncode(std::vector<std::string> command, const fs::path& log) {
    command.insert(command.begin(), {"timeout", "--kill-after=10", kTimeLimitSeconds});
    const int exitCode = Run(command, log);
    constexpr int kTimedOut = 124;  // timeout's own codes
    constexpr int kCouldNotRun = 127;
    if (exitCode == kTimedOut) {
        return std::string{"osslsigncode did not finish within "} + kTimeLimitSeconds +
               " s (a slow timestamp server?)";
    }
    if (exitCode == -1 || exitCode == kCouldNotRun) {
        return "cannot run osslsigncode (install it: scripts/setup.sh)";
    }
    if (exitCode != 0) return "osslsigncode failed: " + ReadAll(log);
    return {};
}

}  // namespace

Signed SignExecutable(std::string_view exe, const SigningInputs& signing) {
    const WorkFolder work;
    if (work.Path().empty()) return {{}, "cannot make a temporary folder"};
    const auto unsigned_ = work.Path() / "unsigned.exe";
    const auto signed_ = work.Path() / "signed.exe";
    const auto log = work.Path() / "osslsigncode.txt";
    std::ofstream{unsigned_, std::ios::binary}.write(exe.data(),
                                                     static_cast<std::streamsize>(exe.size()));
    std::vector<std::string> command{"osslsigncode", "sign",
                                     "-certs",       signing.certificate.string(),
                                     "-key",         signing.key.string(),
                                     "-h",           "sha256",
                                     "-n",           KDU_PRODUCT_NAME};
    if (!signing.timestampUrl.empty()) {
        command.insert(command.end(), {"-ts", signing.timestampUrl});
    }
    command.insert(command.end(), {"-in", unsigned_.string(), "-out", signed_.string()});
    if (const auto failure = RunOsslsigncode(command, log); !failure.empty()) return {{}, failure};
    // The signature is checked as a user's system would: up the chain given, to its root.
    const auto verifyLog = work.Path() / "verify.txt";
    const auto verified = RunOsslsigncode({"osslsigncode", "verify", "-in", signed_.string(),
                                           "-CAfile", signing.certificate.string()},
                                          verifyLog);
    if (!verified.empty()) return {{}, "the signed exe does not verify: " + verified};
    return {ReadAll(signed_), {}};
}

}  // namespace kdu::package
