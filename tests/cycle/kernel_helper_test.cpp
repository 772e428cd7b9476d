#include "support/kernel_helper.h"

// The helper process is this platform's alone; Windows has no such calls.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stop_token>
#include <thread>

#include "support/cancellation.h"

namespace tavo {
namespace {

namespace fs = std::filesystem;
namespace kh = kernelhelper;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Folder {
    fs::path path = fs::temp_directory_path() / ("tavo-helper-" + std::to_string(getpid()));
    Folder() {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
};

// The helper must hold nothing of ours: a reader waiting for the end of our
// standard output (a pipe) would otherwise wait as long as the helper lives.
TEST(KernelHelper, TheHelperHoldsNoDescriptorOfOurs) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);  // inherited by a plain fork, as stdout is
    Folder f;
    std::ofstream(f.path / "file") << "x";
    // Several calls at once, so several helpers are forked.
    std::vector<std::jthread> callers;
    for (int i = 0; i < 4; ++i)
        callers.emplace_back(
            [&] { kh::readRegular((f.path / "file").string(), 10, true, "", Clock::now() + 20s); });
    callers.clear();
    // The first test of the program: every helper so far was forked while
    // the pipe was open.
    ASSERT_GT(kh::helpersStarted(), 0);
    close(p[1]);
    fcntl(p[0], F_SETFL, O_NONBLOCK);
    char c;
    EXPECT_EQ(read(p[0], &c, 1), 0) << "a helper still holds the pipe's write end";
    close(p[0]);
}

TEST(KernelHelper, ReadsWhatAPlainReadWouldAndRefusesWhatCouldBlock) {
    Folder f;
    std::ofstream(f.path / "file") << "0123456789";
    fs::create_symlink(f.path / "file", f.path / "link");
    ASSERT_EQ(mkfifo((f.path / "fifo").c_str(), 0600), 0);
    const auto until = [] { return Clock::now() + 20s; };  // none of these may wait

    const struct {
        const char* name;
        std::size_t limit;
        bool noFollow;
        std::optional<std::string> want;
    } cases[] = {
        {"file", 1024, true, "0123456789"},
        {"file", 4, true, "0123"},  // the limit holds
        {"link", 1024, false, "0123456789"},
        {"link", 1024, true, std::nullopt},   // a user's link is not followed
        {"fifo", 1024, false, std::nullopt},  // refused without waiting for a writer
        {"missing", 1024, false, std::nullopt},
    };
    for (const auto& c : cases) {
        kh::Outcome o{};
        const auto start = Clock::now();
        EXPECT_EQ(kh::readRegular((f.path / c.name).string(), c.limit, c.noFollow, "", until(), &o),
                  c.want)
            << c.name;
        EXPECT_EQ(o, kh::Outcome::Answered) << c.name;
        EXPECT_LT(Clock::now() - start, 10s) << c.name;
    }

    const auto files =
        kh::readInDirectory(f.path.string(), {"file", "missing", "file"}, 1024, "", until());
    ASSERT_TRUE(files);
    ASSERT_EQ(files->size(), 3u);
    EXPECT_EQ((*files)[0], "0123456789");
    EXPECT_EQ((*files)[1], std::nullopt);
    EXPECT_EQ((*files)[2], "0123456789");
    EXPECT_FALSE(kh::readInDirectory((f.path / "missing").string(), {"x"}, 10, "", until()));

    const auto fs = kh::statFs(f.path.string(), "", until());
    ASSERT_TRUE(fs);
    EXPECT_GT(fs->blocks, 0u);
    EXPECT_GT(fs->fragmentSize, 0u);
}

// A FIFO opened the blocking way (as a /proc file is) stands in for a call
// stuck in the kernel: the caller gets nothing by its deadline, the helper
// is replaced, and the next call answers at once.
TEST(KernelHelper, AMissedDeadlineReplacesTheHelperAndStopEndsTheWait) {
    Folder f;
    ASSERT_EQ(mkfifo((f.path / "fifo").c_str(), 0600), 0);
    std::ofstream(f.path / "file") << "x";

    kh::Outcome o{};
    auto start = Clock::now();
    EXPECT_FALSE(
        kh::readInDirectory(f.path.string(), {"fifo"}, 10, "fifo", Clock::now() + 200ms, &o));
    EXPECT_EQ(o, kh::Outcome::Missed);
    EXPECT_GE(Clock::now() - start, 190ms);
    EXPECT_LT(Clock::now() - start, 10s);

    EXPECT_EQ(kh::readRegular((f.path / "file").string(), 10, true, "", Clock::now() + 20s, &o),
              "x");
    EXPECT_EQ(o, kh::Outcome::Answered);

    // The killed helper ends (a FIFO's open can be interrupted), and its
    // resource is free again; nothing stays behind.
    for (int i = 0; i < 200 && kh::helpersHanging() > 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(kh::helpersHanging(), 0);

    // STOP ends the wait long before the deadline.
    std::stop_source stop;
    std::jthread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop.request_stop();
    });
    cycle::StopScope scope(stop.get_token());
    start = Clock::now();
    EXPECT_FALSE(
        kh::readInDirectory(f.path.string(), {"fifo"}, 10, "fifo", Clock::now() + 60s, &o));
    EXPECT_EQ(o, kh::Outcome::Missed);
    EXPECT_LT(Clock::now() - start, 20s);
}

// Many folders in one request: each folder's items in order (a file, a
// link's target, a subfolder's count), a hang costing only the item that hung
// and those after it in its folder, and every folder answered, in order.
TEST(KernelHelper, EachFolderGivesWhatCameBeforeItsHang) {
    Folder f;
    for (const char* d : {"a", "b"}) {
        fs::create_directories(f.path / d / "fd");
        std::ofstream(f.path / d / "stat") << d << " stat";
        fs::create_symlink("/usr/bin/target", f.path / d / "exe");
        for (const char* e : {"0", "1", "2", ".hidden"}) std::ofstream(f.path / d / "fd" / e);
        std::ofstream(f.path / d / "status") << "status";
    }
    ASSERT_EQ(mkfifo((f.path / "a/cmdline").c_str(), 0600), 0);
    std::ofstream(f.path / "b/cmdline") << "line";
    using Kind = kh::FolderItem::Kind;
    const std::vector<kh::FolderItem> items{{"stat", Kind::File, 100, false},
                                            {"exe", Kind::Link, 0, false},
                                            {"fd", Kind::Count, 0, false},
                                            {"cmdline", Kind::File, 100, true},
                                            {"status", Kind::File, 3, false}};
    std::vector<std::size_t> order;
    std::vector<kh::FolderRead> reads(3);
    const auto start = Clock::now();
    kh::readInEachDirectory(f.path.string(), {"a", "b", "gone"}, items, "each-test ", 200ms,
                            Clock::now() + 20s, [&](std::size_t i, kh::FolderRead& r) {
                                order.push_back(i);
                                reads[i] = std::move(r);
                            });
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2}));

    EXPECT_EQ(reads[0].state, kh::FolderRead::State::Missed);
    ASSERT_EQ(reads[0].items.size(), 3u);
    EXPECT_EQ(reads[0].items[0], "a stat");
    EXPECT_EQ(reads[0].items[1], "/usr/bin/target");
    EXPECT_EQ(reads[0].items[2], "3");

    EXPECT_EQ(reads[1].state, kh::FolderRead::State::Read);
    ASSERT_EQ(reads[1].items.size(), 5u);
    EXPECT_EQ(reads[1].items[0], "b stat");
    EXPECT_EQ(reads[1].items[3], "line");
    EXPECT_EQ(reads[1].items[4], "sta");  // at most its limit

    EXPECT_EQ(reads[2].state, kh::FolderRead::State::Gone);
}

}  // namespace
}  // namespace tavo

#endif
