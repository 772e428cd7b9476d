#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Calls that can hang inside the kernel for good (statvfs of a stuck
// network or FUSE mount, an open or read in a home folder on one, a
// process's command line while it waits in the kernel) run in a helper
// process, never in a thread of ours: the kernel ends no process while one
// of its threads waits there, so a thread stuck that way would keep the
// program alive after its output.
//
// A helper is forked when first needed, holds no descriptor but its socket
// to us (not our standard output), and answers one request at a time. A
// call that misses its deadline, or whose caller's pass is stopped,
// abandons its helper: it is killed (it dies as soon as the kernel lets it)
// and the next call forks another. An abandoned helper stuck on a named
// resource (a mount point, a home folder, a process) keeps that resource
// busy: calls on it give nothing at once until that helper has ended, so
// at most one helper hangs on each resource however often it is met.
namespace tavo::kernelhelper {

using Clock = std::chrono::steady_clock;

enum class Outcome {
    Answered,  // the call ran; its value (or its failure) came back
    Missed,    // no answer by the deadline, or the pass was stopped
    Busy,      // an earlier helper still hangs on the resource
    Broken     // no helper could be started or it died
};

struct FsNumbers {
    std::uint64_t fragmentSize = 0;
    std::uint64_t blocks = 0;
    std::uint64_t blocksAvailable = 0;
    std::uint64_t maxNameLength = 0;
};

// statvfs(path), or nothing when it failed or did not answer in time.
std::optional<FsNumbers> statFs(const std::string& path, const std::string& resource,
                                Clock::time_point until, Outcome* outcome = nullptr);

// A regular file's first `limit` bytes, never waiting on a FIFO or device
// (refused); with `noFollow` a symbolic link is refused too.
std::optional<std::string> readRegular(const std::string& path, std::size_t limit, bool noFollow,
                                       const std::string& resource, Clock::time_point until,
                                       Outcome* outcome = nullptr);

// What readInDirectory gives: each file, or nothing when the folder could
// not be opened or did not answer in time.
using Files = std::optional<std::vector<std::optional<std::string>>>;

// The files `names` of the directory `dir`, opened once and read relative to
// it (so /proc/<pid> stays one process), each at most `limit` bytes; an entry
// is nothing when that file could not be read.
Files readInDirectory(const std::string& dir, const std::vector<std::string>& names,
                      std::size_t limit, const std::string& resource, Clock::time_point until,
                      Outcome* outcome = nullptr);

// One thing read in each folder by readInEachDirectory: a file (at most
// `limit` bytes), a symbolic link's target, or how many entries not starting
// with a dot a subfolder holds (as decimal text). A kernel file (/proc,
// /sys) is made up as it is read: a read that gives less than it asked for
// has had all of it, and no read is spent on finding the end.
struct FolderItem {
    enum class Kind : char { File = 'f', KernelFile = 'k', Link = 'l', Count = 'n' };
    std::string name;
    Kind kind = Kind::File;
    std::size_t limit = 0;  // files only
    // A read that can wait in the kernel for good: what the folder gave
    // before it is sent first, so a hang costs only this item and the next.
    bool mayHang = false;

    bool isFile() const { return kind == Kind::File || kind == Kind::KernelFile; }
};

// One folder's answer.
struct FolderRead {
    enum class State {
        Read,   // every item: a value, or nothing where its read failed
        Gone,   // the folder could not be opened
        Missed  // the time ran out, the pass stopped, or the folder was busy
    };
    State state = State::Missed;
    // Read: one entry per item. Missed: the items that came back before the
    // next one hung (none when the folder was passed by).
    std::vector<std::optional<std::string>> items;
};

// `items` of each of `folders` (names in `base`), each folder opened once and
// read relative to it (so /proc/<pid> stays one process, and its files are
// read in the order given), sent to one helper at once. `take` is called on
// this thread for every folder, in order, as its answer arrives; each folder
// gets `each` from the one before, and none is read after `until` or a STOP.
// A folder that hangs leaves its resource (`resourcePrefix` + its name) busy
// while the helper stuck in it lives, and is passed by (Missed) until then;
// the folders after it go on in a fresh helper.
void readInEachDirectory(const std::string& base, const std::vector<std::string>& folders,
                         const std::vector<FolderItem>& items, const std::string& resourcePrefix,
                         std::chrono::milliseconds each, Clock::time_point until,
                         const std::function<void(std::size_t, FolderRead&)>& take);

// For tests and measurements: helpers forked so far, and those abandoned
// that have not ended yet.
int helpersStarted();
int helpersHanging();
// For measurements taken between calls: the helpers alive now, idle or
// abandoned and not yet ended (their CPU time is not yet ours to count).
std::vector<int> helperPids();

}  // namespace tavo::kernelhelper
