// libFuzzer target over the reader of what another computer's snapshot
// script printed: any bytes (a hostile remote, a cut connection) must give
// frames that never run across a boundary and a snapshot in which every
// request has an answer. Built and run by `make fuzz` (clang only).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/linux/wmi/remote_frames.h"
#include "platform/linux/wmi/remote_snapshot.h"

namespace rv = tavo::linuxwmi::remote_view;

namespace {

constexpr std::string_view kBoundary = "tavo-00112233445566778899aabbccddeeff";

const rv::Requests& requests() {
    using rv::Kind;
    static const rv::Requests r{
        {Kind::Read, "/proc/stat", 1 << 20, false},
        {Kind::Read, "/proc/[0-9]*/cmdline", 32768, true},
        {Kind::UserRead, "/home/a/.config/x", 4096, false},
        {Kind::List, "/proc", 0, false},
        {Kind::Link, "/proc/1/exe", 0, false},
        {Kind::Canon, "/sys/dev/block/8:0", 0, false},
        {Kind::Type, "/etc/localtime", 0, false},
        {Kind::MTime, "/var/lib/dpkg/info/a.list", 0, false},
        {Kind::Birth, "/etc", 0, false},
        {Kind::Count, "/proc/1/fd", 0, false},
        {Kind::StatFs, "/", 0, false},
        {Kind::Command, std::string(rv::kFacts), 0, false},
        {Kind::Command, std::string(rv::kPrinters), 0, false},
    };
    return r;
}

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "snapshot reader: %s\n", why);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view out(reinterpret_cast<const char*>(data), size);
    const std::string mark = "\n" + std::string(kBoundary) + " ";
    for (const rv::Frame& f : rv::readFrames(out, kBoundary)) {
        if (f.body.find(mark) != std::string_view::npos) fail("a body runs across a frame");
        if (f.tag.find_first_of(" \n") != std::string_view::npos) fail("a tag holds a separator");
    }
    rv::Snapshot snap;
    rv::parseOutput(out, std::string(kBoundary), requests(), {}, snap);
    for (const rv::Request& r : requests()) {
        if (r.glob || r.kind == rv::Kind::Command) continue;
        const bool answered = snap.files.count(r.path) || snap.userFiles.count(r.path) ||
                              snap.lists.count(r.path) || snap.links.count(r.path) ||
                              snap.canon.count(r.path) || snap.types.count(r.path) ||
                              snap.mtimes.count(r.path) || snap.births.count(r.path) ||
                              snap.counts.count(r.path) || snap.statfs.count(r.path);
        if (!answered) fail("a request was left without an answer");
    }
    // Every section of a command has its answer too.
    for (const char* section : {"facts", "lpstat-p", "ipp-jobs"}) {
        if (!snap.commands.count(section)) fail("a command section was left without an answer");
    }
    return 0;
}
