// tavo-report: the window's reports for scripts, cron and many computers.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/report_command.h"
#include "cli/tty_prompter.h"
#include "platform/backends.h"

#ifdef _WIN32
#include <io.h>
#define TAVO_ISATTY _isatty
#define TAVO_FILENO _fileno
#else
#include <unistd.h>
#define TAVO_ISATTY isatty
#define TAVO_FILENO fileno
#endif

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void onInterrupt(int) {
    gInterrupted.store(true);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    tavo::cli::Environment env;
    env.stdoutIsTerminal = TAVO_ISATTY(TAVO_FILENO(stdout)) != 0;
    env.stderrIsTerminal = TAVO_ISATTY(TAVO_FILENO(stderr)) != 0;
    const char* noColor = std::getenv("NO_COLOR");
    env.noColor = noColor && *noColor;
    // Questions of remote connections go to the terminal, if there is one;
    // never a password on the command line.
    auto prompter = tavo::cli::makeTerminalPrompter();
    env.makeServices = [prompter] {
        tavo::Backends b = tavo::defaultBackends(prompter);
        return tavo::cycle::PassServices{std::move(b.management), std::move(b.network)};
    };
    std::signal(SIGINT, onInterrupt);
#ifdef SIGTERM
    std::signal(SIGTERM, onInterrupt);
#endif
    const tavo::cli::CommandResult r = tavo::cli::runCommand(args, env, gInterrupted);
    std::fwrite(r.out.data(), 1, r.out.size(), stdout);
    std::fflush(stdout);
    std::fwrite(r.err.data(), 1, r.err.size(), stderr);
    std::fflush(stderr);
    // Passes left stuck in a call no stop reaches still run on their threads:
    // end the process without running destructors under them.
    if (r.abandonedPasses) std::_Exit(r.status);
    return r.status;
}
