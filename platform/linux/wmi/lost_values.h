#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// Values a pass meant to read and could not. A report is only worth what it
// can be trusted for: an empty cell that hides a read which timed out looks
// exactly like a value that is not there, so every such loss is counted
// here and the report says how many, and which.
namespace tavo::linuxwmi {

class LostValues {
  public:
    enum class Why {
        TimedOut,  // the read did not answer in time (a hung mount, a stuck process)
        Cut,       // longer than the program keeps of one value
        Refused,   // the computer asked did not give it (over the pass's size, a failed run)
    };

    // One value lost; `what` names it for the message ("/proc/412/cmdline").
    void add(Why why, std::string what);
    // "3 values could not be read in time (/proc/1/cmdline, ...)", the
    // reasons joined by "; "; "" when nothing was lost.
    std::string summary() const;

  private:
    static constexpr std::size_t kExamples = 3;
    mutable std::mutex mutex_;
    std::array<std::size_t, 3> counts_{};
    std::array<std::vector<std::string>, 3> examples_;
};

}  // namespace tavo::linuxwmi
