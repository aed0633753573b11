#include "tools/package/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <system_error>

extern char** environ;

namespace kdu::package {
namespace {

using Clock = std::chrono::steady_clock;

// A program ended at the time limit has this long to finish before it is killed.
constexpr std::chrono::seconds kGrace{10};

sigset_t Interruptions() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

[[noreturn]] void ThrowSystemError(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_{descriptor} {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { Close(); }
    int Get() const { return descriptor_; }
    void Close() {
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = -1;
    }

private:
    int descriptor_;
};

// Waits until the descriptor is readable or the time has passed; whether it is readable.
bool Readable(int descriptor, std::chrono::milliseconds wait) {
    pollfd polled{descriptor, POLLIN, 0};
    return ::poll(&polled, 1, static_cast<int>(wait.count())) > 0;
}

// Ends the program's process group, and what else it started in it: asked first, then killed.
void EndGroup(pid_t group, int process) {
    ::kill(-group, SIGTERM);
    Readable(process, kGrace);
    ::kill(-group, SIGKILL);
}

// The spawn settings: a process group of its own, with the default mask and dispositions.
class SpawnAttributes {
public:
    SpawnAttributes() {
        posix_spawnattr_init(&attributes_);
        sigset_t none;
        sigemptyset(&none);
        const auto interruptions = Interruptions();
        posix_spawnattr_setpgroup(&attributes_, 0);
        posix_spawnattr_setsigmask(&attributes_, &none);
        posix_spawnattr_setsigdefault(&attributes_, &interruptions);
        posix_spawnattr_setflags(
            &attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    const posix_spawnattr_t* Get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
};

// Standard input from /dev/null, the output in log, and the secret's pipe as descriptor 3.
class SpawnFiles {
public:
    SpawnFiles(const std::filesystem::path& log, int secret) {
        posix_spawn_file_actions_init(&actions_);
        posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions_, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions_, 1, 2);
        if (secret >= 0) posix_spawn_file_actions_adddup2(&actions_, secret, 3);
    }
    SpawnFiles(const SpawnFiles&) = delete;
    SpawnFiles& operator=(const SpawnFiles&) = delete;
    ~SpawnFiles() { posix_spawn_file_actions_destroy(&actions_); }
    const posix_spawn_file_actions_t* Get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
};

// A pipe that holds the secret, its writing end closed; or none (-1) for no secret.
int PipeHolding(const std::string& secret) {
    if (secret.empty()) return -1;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) ThrowSystemError("cannot make a pipe");
    const Descriptor writing{ends[1]};
    // A PIN or password is far smaller than a pipe's buffer: the write does not wait.
    if (::write(ends[1], secret.data(), secret.size()) != static_cast<ssize_t>(secret.size())) {
        ::close(ends[0]);
        ThrowSystemError("cannot write to a pipe");
    }
    return ends[0];
}

// The builder's environment with the entries added, in place of any of the same names.
std::vector<char*> EnvironmentWith(std::vector<std::string>& added) {
    const auto replaced = [&](std::string_view entry) {
        for (const std::string_view addition : added) {
            const auto name = addition.substr(0, addition.find('=') + 1);
            if (entry.starts_with(name)) return true;
        }
        return false;
    };
    std::vector<char*> environment;
    for (char** entry = environ; *entry; ++entry) {
        if (!replaced(*entry)) environment.push_back(*entry);
    }
    for (auto& entry : added) environment.push_back(entry.data());
    environment.push_back(nullptr);
    return environment;
}

std::string_view Trimmed(std::string_view text) {
    const auto start = text.find_first_not_of(" \t\r");
    if (start == std::string_view::npos) return {};
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

// The reason a line of a signing program's output gives: OpenSSL's
// ("HEX:error:CODE:library:function:reason:file:line:"), or its verifier's.
std::string_view ReasonIn(std::string_view line) {
    for (const std::string_view marker : {"Verify error: ", "verify error: ", "Error: "}) {
        if (const auto at = line.find(marker); at != std::string_view::npos) {
            return Trimmed(line.substr(at + marker.size()));
        }
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0 ||
        line.substr(0, colon).find_first_not_of("0123456789ABCDEF") != std::string_view::npos ||
        !line.substr(colon).starts_with(":error:")) {
        return {};
    }
    for (int skipped = 0; skipped < 5 && line.find(':') != std::string_view::npos; ++skipped) {
        line.remove_prefix(line.find(':') + 1);
    }
    return Trimmed(line.substr(0, line.find(':')));
}

// A line that says a step failed, but the last one, which says no more than that.
std::string_view FailureIn(std::string_view line) {
    const bool failed = line.find("failed") != std::string_view::npos ||
                        line.find("failure") != std::string_view::npos ||
                        line.find("MISMATCH") != std::string_view::npos;
    return failed && line != "Signature verification: failed" ? line : "";
}

}  // namespace

std::string Causes(std::string_view output) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < output.size();) {
        const auto end = std::min(output.find('\n', start), output.size());
        if (const auto line = Trimmed(output.substr(start, end - start)); !line.empty()) {
            lines.push_back(line);
        }
        start = end + 1;
    }
    std::vector<std::string_view> causes;
    for (const auto finder : {ReasonIn, FailureIn}) {
        for (const auto line : lines) {
            const auto cause = finder(line);
            if (!cause.empty() && causes.size() < 3 &&
                std::find(causes.begin(), causes.end(), cause) == causes.end()) {
                causes.push_back(cause);
            }
        }
    }
    if (causes.empty()) {
        causes.assign(lines.size() > 2 ? lines.end() - 2 : lines.begin(), lines.end());
    }
    std::string text;
    for (const auto cause : causes) text += (text.empty() ? "" : "; ") + std::string{cause};
    return text;
}

Interrupted::Interrupted(int signal)
    : std::runtime_error{std::string{"interrupted ("} + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                         "): the signing program and its process group were ended, its work "
                         "folder removed; nothing was written"},
      signal_{signal} {}

HeldSignals::HeldSignals() {
    const auto interruptions = Interruptions();
    pthread_sigmask(SIG_BLOCK, &interruptions, &previous_);
}

HeldSignals::~HeldSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

Outcome RunProgram(std::vector<std::string> arguments, const std::filesystem::path& log,
                   std::chrono::seconds limit, const ProgramInputs& inputs) {
    const HeldSignals held;
    const auto interruptions = Interruptions();
    const Descriptor signals{::signalfd(-1, &interruptions, SFD_CLOEXEC)};
    if (signals.Get() < 0) ThrowSystemError("cannot watch for signals");
    Descriptor secret{PipeHolding(inputs.secret)};

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> added = inputs.environment;
    auto environment = EnvironmentWith(added);

    const SpawnFiles files{log, secret.Get()};
    const SpawnAttributes attributes;
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], files.Get(), attributes.Get(), argv.data(),
                     environment.data()) != 0) {
        return {};
    }
    secret.Close();
    // (glibc 2.36's <sys/pidfd.h> declares pidfd_open without C linkage.)
    const Descriptor process{static_cast<int>(::syscall(SYS_pidfd_open, child, 0))};
    if (process.Get() < 0) ThrowSystemError("cannot watch the program");

    Outcome outcome{true};
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd polled[] = {{process.Get(), POLLIN, 0}, {signals.Get(), POLLIN, 0}};
        if (left.count() <= 0 || ::poll(polled, 2, static_cast<int>(left.count())) == 0) {
            EndGroup(child, process.Get());
            outcome.endedAtTimeLimit = true;
            break;
        }
        if ((polled[1].revents & POLLIN) != 0) {
            signalfd_siginfo received{};
            const auto read = ::read(signals.Get(), &received, sizeof(received));
            EndGroup(child, process.Get());
            ::waitpid(child, nullptr, 0);
            throw Interrupted(read == sizeof(received) ? static_cast<int>(received.ssi_signo)
                                                       : SIGTERM);
        }
        if ((polled[0].revents & POLLIN) != 0) break;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

}  // namespace kdu::package
