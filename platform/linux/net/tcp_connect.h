#pragma once

#include <sys/socket.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tavo::linuxnet {

using Clock = std::chrono::steady_clock;

struct Addresses {
    std::vector<sockaddr_storage> addresses;
    std::vector<socklen_t> lengths;
    std::string error;  // the resolver's own words when it found nothing
};

// The addresses of `host`, with `port` set in each (0 leaves it unset).
// A resolver cannot be interrupted, so the lookup runs on a worker: nothing
// when it has not answered by `until` or the pass was stopped meanwhile.
std::optional<Addresses> resolveUntil(const std::string& host, int port, Clock::time_point until);

struct TcpConnect {
    enum class Result {
        Connected,
        Stopped,       // the pass was stopped
        NameTimedOut,  // the lookup did not answer by the deadline
        NameUnknown,   // the resolver said no; `why` holds its words
        NoAnswer,      // no address answered by the deadline
        Failed,        // every address refused or failed; `why` says how
    };
    Result result = Result::Failed;
    int fd = -1;  // connected, blocking, close-on-exec; the caller owns it
    std::string why;
};

// Resolves `host` and connects to `port` on its addresses in turn, never
// past `until`, and ends at once on STOP.
TcpConnect connectTcp(const std::string& host, int port, Clock::time_point until);

// The same for addresses already looked up, each with its port set to
// `port`. Never NameTimedOut or NameUnknown.
TcpConnect connectAddresses(const Addresses& addresses, int port, Clock::time_point until);

// How long one wait in a loop that also watches STOP may last: what is
// left until `until`, at most `slice`, never less than nothing.
int pollSliceMs(Clock::time_point until,
                std::chrono::milliseconds slice = std::chrono::milliseconds(100));

}  // namespace tavo::linuxnet
