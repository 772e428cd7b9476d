// tavo-report: the window's reports for scripts, cron and many computers.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/report_command.h"
#include "cli/run_targets.h"
#include "cli/tty_prompter.h"
#include "platform/backends.h"
#include "support/background.h"

#ifdef _WIN32
#include <io.h>
#define TAVO_ISATTY _isatty
#define TAVO_FILENO _fileno
#else
#include <fcntl.h>
#include <unistd.h>
#define TAVO_ISATTY isatty
#define TAVO_FILENO fileno
#endif

namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<int> gSignal{0};

// While the passes run, a signal ends the run the way the deadline does, so
// what finished is still printed. Anywhere else (reading the computers from
// a FIFO, writing to a full pipe) nothing is waiting to be printed: the
// program ends at once with the shell's status for that signal.
extern "C" void onSignal(int sig) {
    gSignal.store(sig);
    gInterrupted.store(true);
    if (!tavo::cli::collecting().load()) _exit(128 + sig);
}

void catchSignals() {
#ifdef _WIN32
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#else
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

// A descriptor 0, 1 or 2 the program was started without is held on
// /dev/null, so no file opened later takes its number and receives what was
// meant for the terminal. Returns whether standard output was closed.
bool holdStandardDescriptors() {
    bool stdoutClosed = false;
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (fd == 1) stdoutClosed = true;
        const int held = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (held >= 0 && held != fd) close(held);
    }
#endif
    return stdoutClosed;
}

// Writes all of `text` to `f`; false, with errno set, when a write or the
// flush fails (a full disk, a closed descriptor, a reader that left).
bool writeAll(std::FILE* f, std::string_view text) {
    errno = 0;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) return false;
    return std::fflush(f) == 0 && !std::ferror(f);
}

// How long the passes still out at exit (a remote session saying goodbye)
// may take before the program leaves without them.
constexpr std::chrono::seconds kExitLimit{2};

}  // namespace

int main(int argc, char** argv) {
    const bool stdoutClosed = holdStandardDescriptors();
    catchSignals();
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
    // Many computers' rows go out as they arrive, each computer's in one write.
    env.writeOut = [stdoutClosed](std::string_view text) {
        if (stdoutClosed) {
            errno = EBADF;
            return false;
        }
        return writeAll(stdout, text);
    };
    tavo::cli::CommandResult r = tavo::cli::runCommand(args, env, gInterrupted);
    if (r.status == tavo::cli::kExitInterrupted && gSignal.load() == SIGTERM)
        r.status = 128 + SIGTERM;

    if (r.writeOutError != 0 || (!r.out.empty() && (stdoutClosed || !writeAll(stdout, r.out)))) {
        const int why = r.writeOutError > 0 ? r.writeOutError : stdoutClosed ? EBADF : errno;
        r.err += "tavo-report: the report could not be written to standard output: " +
                 std::string(why ? std::strerror(why) : "write error") + "\n";
        if (r.status == tavo::cli::kExitOk) r.status = tavo::cli::kExitSomeFailed;
    }
    writeAll(stderr, r.err);
    // Every thread is waited for once, with one limit: none may be inside
    // libssh or OpenSSL while exit() tears them down. One that misses it is
    // stuck in a call nothing interrupts; leave without the teardown then.
    if (!tavo::background::finish(kExitLimit)) std::_Exit(r.status);
    return r.status;
}
