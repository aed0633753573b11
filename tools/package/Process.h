#pragma once

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kdu::package {

// How a program the builder ran ended.
struct Outcome {
    bool started = false;
    bool endedAtTimeLimit = false;
    int exitCode = -1;  // -1: ended by a signal
};

// What a program gets beyond the builder's environment.
struct ProgramInputs {
    std::vector<std::string> environment;  // "NAME=value", added
    std::string secret;  // where not empty, readable at /dev/fd/3 (a pipe: no file or command line)
};

// SIGINT (Ctrl-C) or SIGTERM came while a program ran; the program's process group was ended.
class Interrupted : public std::runtime_error {
public:
    explicit Interrupted(int signal);
    int Signal() const { return signal_; }

private:
    int signal_;
};

// Runs a program found on PATH, with no input and its output (both streams) in log, in a process
// group of its own, which is ended whole (SIGTERM, then SIGKILL 10 s later) at the time limit, or
// when SIGINT or SIGTERM comes to the builder: then Interrupted is thrown.
Outcome RunProgram(std::vector<std::string> arguments, const std::filesystem::path& log,
                   std::chrono::seconds limit, const ProgramInputs& inputs = {});

// What a program's output says went wrong, in one line: at most three causes, OpenSSL's reasons
// and its verifier's first, then the lines that say a step failed; else its last two lines.
std::string Causes(std::string_view output);

// Holds SIGINT and SIGTERM back while it lives, so that the builder sees them while a program
// runs, and so that what it does meanwhile is finished or undone first. One still pending at its
// end then has its usual effect.
class HeldSignals {
public:
    HeldSignals();
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
    ~HeldSignals();

private:
    sigset_t previous_{};
};

}  // namespace kdu::package
