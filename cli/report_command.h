#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cycle/pass.h"

// tavo-report as a function of its arguments and surroundings, so tests run
// it without a process of its own.
namespace tavo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

struct Environment {
    bool stdoutIsTerminal = false;
    bool stderrIsTerminal = false;
    bool noColor = false;
    std::function<cycle::PassServices()> makeServices;
    // Stands in for the real dispatch in tests.
    cycle::Collector collector;
    // Progress lines, written at once (the run's other messages come with
    // its result).
    std::function<void(const std::string&)> progress;
    // Standard output, for a report written as its rows arrive (several
    // computers): false when the text could not be written, with errno
    // saying why. Where not given, that text is kept in CommandResult::out.
    std::function<bool(std::string_view)> writeOut;
};

struct CommandResult {
    int status = kExitOk;
    std::string out;               // for standard output
    std::string err;               // for standard error
    bool abandonedPasses = false;  // passes still running when the run ended
    int writeOutError = 0;         // errno of a failed Environment::writeOut, or -1
};

CommandResult runCommand(const std::vector<std::string>& args, const Environment& env,
                         const std::atomic<bool>& interrupted);

}  // namespace tavo::cli
