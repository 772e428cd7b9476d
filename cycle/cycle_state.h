#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>

// The collection cycle's state, kept in one object rather than read back from
// a caption. The window shows it; it never decides it.
namespace tavo::cycle {

enum class State {
    Stopped,   // no cycle
    Running,   // a cycle: the timer armed, or a pass out
    Stopping,  // stopped, but a pass it started has not come back yet; its
               // rows will be dropped, and a new RUN need not wait for it
};

// The pass a tick started: its number and the token that cancels it.
struct PassTicket {
    std::uint64_t id = 0;
    std::stop_token token;
};

class CycleState {
  public:
    State state() const { return state_; }
    bool running() const { return state_ == State::Running; }
    // True while a pass of the running cycle is out.
    bool passOut() const { return current_.has_value(); }
    // True when `id` is the pass of the running cycle that is still out.
    bool isCurrentPass(std::uint64_t id) const { return current_ && current_->id == id; }

    // RUN. A pass still out from an earlier cycle is abandoned: it has been
    // told to stop and whatever it brings back is dropped.
    void start();

    // STOP, or the end of a one-pass report. Cancels the pass that is out;
    // nothing when already stopped.
    void stop();

    // A tick: a new pass, or nothing when the cycle is not running or a pass
    // is still out (a tick that comes during a pass is skipped, not queued).
    std::optional<PassTicket> beginPass();

    // Pass `id` came back. True when its results belong on screen: it is the
    // pass of the running cycle. A pass of a stopped cycle is dropped.
    bool finishPass(std::uint64_t id);

  private:
    struct Out {
        std::uint64_t id;
        std::stop_source stop;
    };
    void abandon();

    State state_ = State::Stopped;
    std::uint64_t nextId_ = 1;
    std::optional<Out> current_;                // the running cycle's pass
    std::optional<std::uint64_t> abandonedId_;  // the last pass left behind
};

}  // namespace tavo::cycle
