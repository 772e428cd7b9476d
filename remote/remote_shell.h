#pragma once

#include <chrono>
#include <string>
#include <string_view>

// A POSIX shell on another computer: a script goes to `sh -s` on its standard
// input and its standard output comes back whole. One run is one round trip,
// so a caller that needs many files asks for them all in one script.
namespace tavo::remote {

struct ShellRun {
    std::string out;      // standard output, byte for byte
    std::string err;      // standard error, for messages (bounded)
    int exitStatus = -1;  // -1 when the remote gave none
};

class RemoteShell {
  public:
    virtual ~RemoteShell() = default;
    // Runs `script` and returns when it exits. Waits no longer than
    // `deadline`, and stops early when the calling pass is stopped
    // (cycle::currentStopToken()). A connection that cannot be made or is
    // lost throws tavo::Error with the service's code (0x800706BA unreachable,
    // 0x80070005 access denied, 0x80043001 timed out) and a message naming the
    // host and what to do.
    virtual ShellRun run(std::string_view script, std::chrono::milliseconds deadline) = 0;
    // The computer's name for messages ("user@host:port").
    virtual std::string describe() const = 0;
};

}  // namespace tavo::remote
