#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cycle/combine.h"
#include "cycle/pass.h"
#include "grid/grid.h"

// A periodic report on several computers at once, as the window runs it:
// each tick every computer that is not still busy is asked again, at most
// `atOnce` at a time, each with a pass of its own. A computer that has not
// answered by the next tick keeps its last rows, marked as old, and does not
// hold the others back. Plain bookkeeping on the window's thread: the
// caller starts the passes this names and hands their outcomes back.
namespace tavo::cycle {

inline constexpr std::size_t kComputersAtOnce = 8;

// What the Error column says on the rows of a computer that has not
// answered in time (rows marked grid::kRowOld).
inline constexpr std::string_view kOldRowText =
    "Not answered in time: these rows are from an earlier pass";

// What the rounds hold at one moment, shared rather than copied, so the rows
// can be combined on another thread while the next answers come in.
struct RoundsSnapshot {
    std::vector<std::shared_ptr<const TargetOutcome>> outcomes;  // in the order asked
    std::vector<std::uint8_t> old;  // per outcome: from an earlier round

    // The rows under a first column "Computer" and a last one "Error"; rows
    // of an outcome from an earlier round are marked grid::kRowOld.
    void combineInto(grid::Grid& out) const;
};

class ComputerRounds {
  public:
    explicit ComputerRounds(std::vector<std::string> computers,
                            std::size_t atOnce = kComputersAtOnce);

    std::size_t size() const { return slots_.size(); }
    const std::string& computer(std::size_t i) const { return slots_[i].computer; }
    std::uint64_t round() const { return round_; }

    // A tick: every computer neither running nor waiting joins a new round.
    // Returns the computers to start now.
    std::vector<std::size_t> beginRound();

    // Computer `i`'s pass came back: what it brought becomes its latest
    // (a cancelled pass brings nothing). Returns the computers to start now
    // in its place.
    std::vector<std::size_t> passEnded(std::size_t i, PassOutcome outcome);

    // Every computer of the present round has come back.
    bool roundEnded() const;
    // Computers of the present round that came back with a report.
    std::size_t answered() const;
    // Computers whose rows come from an earlier round (or that have none yet
    // and are still out).
    std::size_t old() const;
    std::size_t running() const { return running_; }

    // The latest outcome of every computer that has one, in the order asked.
    RoundsSnapshot snapshot() const;

    // "web1: 2 values could not be read ...", one line per computer whose
    // latest pass lost values; "" when none did.
    std::string lostValues() const;

  private:
    enum class State : std::uint8_t { Idle, Waiting, Running };
    struct Slot {
        std::string computer;
        std::shared_ptr<const TargetOutcome> outcome;  // the latest that came back
        std::uint64_t seen = 0;                        // the round it came back in
        std::uint64_t joined = 0;                      // the round it was last asked in
        State state = State::Idle;
    };
    std::vector<std::size_t> startWaiting();

    std::vector<Slot> slots_;
    std::vector<std::size_t> queue_;  // waiting, in the order asked
    std::size_t queueHead_ = 0;
    std::size_t atOnce_;
    std::size_t running_ = 0;
    std::uint64_t round_ = 0;
};

}  // namespace tavo::cycle
