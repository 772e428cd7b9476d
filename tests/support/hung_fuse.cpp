// A filesystem that never answers: its root can be looked at (so the mount
// itself succeeds and is listed), but statfs and every lookup below the root
// wait for good, as a hung network or FUSE mount does. Ends when killed;
// closing /dev/fuse then releases everyone who waited.
//   hung_fuse MOUNTPOINT
#define FUSE_USE_VERSION 31
#include <fuse3/fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

[[noreturn]] void hang() {
    for (;;) pause();
}

int getattr(const char* path, struct stat* st, fuse_file_info*) {
    if (std::strcmp(path, "/") != 0) hang();
    std::memset(st, 0, sizeof *st);
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
}

int statfs(const char*, struct statvfs*) {
    hang();
}

int readdir(const char*, void*, fuse_fill_dir_t, off_t, fuse_file_info*, fuse_readdir_flags) {
    hang();
}

int open(const char*, fuse_file_info*) {
    hang();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    fuse_operations ops{};
    ops.getattr = getattr;
    ops.statfs = statfs;
    ops.readdir = readdir;
    ops.open = open;
    // Foreground, and many threads, so each hung call waits on its own.
    char* args[] = {argv[0],
                    const_cast<char*>("-f"),
                    const_cast<char*>("-o"),
                    const_cast<char*>("fsname=tavo-hung,subtype=tavohung"),
                    argv[1],
                    nullptr};
    return fuse_main(5, args, &ops, nullptr);
}
