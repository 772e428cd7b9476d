#include <gtest/gtest.h>

#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/mount_info.h"

namespace tavo::linuxwmi {
namespace {

TEST(MountInfo, ParsesEscapesOptionalFieldsAndBindMounts) {
    const auto m = parseMountInfo(
        "26 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
        "27 26 8:1 /home/a\\040b /srv/my\\040files\\011tab rw shared:1 master:2 - ext4 /dev/sda1 "
        "rw\n"
        "28 26 0:50 / /mnt/back\\134slash ro - nfs4 srv:/x rw\n"
        "garbage line\n"
        "29 26 0:51 / /mnt/nosep rw - \n");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].mountPoint, "/");
    EXPECT_EQ(m[0].major, 8u);
    EXPECT_EQ(m[0].minor, 1u);
    EXPECT_EQ(m[0].fsType, "ext4");
    EXPECT_EQ(m[0].source, "/dev/sda1");
    // Two optional fields before the separator; escaped space and tab.
    EXPECT_EQ(m[1].root, "/home/a b");
    EXPECT_EQ(m[1].mountPoint, "/srv/my files\ttab");
    EXPECT_EQ(m[1].fsType, "ext4");
    EXPECT_EQ(m[2].mountPoint, "/mnt/back\\slash");
    EXPECT_TRUE(hasOption(m[2].options, "ro"));
    EXPECT_FALSE(hasOption("rw,errors=remount-ro", "ro"));
}

TEST(ProcStat, CutsTheNameAtTheLastParenthesis) {
    ProcStat s;
    ASSERT_TRUE(
        parseProcStat("42 (a) b (c) d) S 7 42 42 0 -1 0 11 0 3 0 250 120 0 0 20 -5 4 0 9000 2048 3 "
                      "18446744073709551615\n",
                      s));
    EXPECT_EQ(s.pid, 42);
    EXPECT_EQ(s.comm, "a) b (c) d");
    EXPECT_EQ(s.state, 'S');
    EXPECT_EQ(s.ppid, 7);
    EXPECT_EQ(s.session, 42);
    EXPECT_EQ(s.minflt + s.majflt, 14u);
    EXPECT_EQ(s.utime, 250u);
    EXPECT_EQ(s.stime, 120u);
    EXPECT_EQ(s.nice, -5);
    EXPECT_EQ(s.numThreads, 4);
    EXPECT_EQ(s.startTime, 9000u);
    EXPECT_EQ(s.vsize, 2048u);
    EXPECT_EQ(s.rss, 3);

    EXPECT_FALSE(parseProcStat("", s));
    EXPECT_FALSE(parseProcStat("42 (cut short) S 1 2 3", s));
    EXPECT_FALSE(parseProcStat("42 no parens S 1", s));
}

TEST(ResolvConf, KeepsOrderAndTheLastSearchLine) {
    const auto c = parseResolvConf(
        "# comment\n; also comment\nnameserver 10.0.0.1\nsearch a.example b.example\n"
        "nameserver 2001:db8::1\ndomain corp.example\nsearch c.example\noptions "
        "ndots:2\nnameserver\n");
    EXPECT_EQ(c.servers, (std::vector<std::string>{"10.0.0.1", "2001:db8::1"}));
    EXPECT_EQ(c.domain, "corp.example");
    EXPECT_EQ(c.search, (std::vector<std::string>{"c.example"}));
    EXPECT_TRUE(parseResolvConf("").servers.empty());
}

TEST(EnvironmentFile, StripsQuotesExportAndComments) {
    const auto v = parseEnvironmentFile(
        "# c\nPATH=\"/usr/bin:/bin\"\n  export LANG=C.UTF-8\nQ='single'\nA = b\n=novalue\nnot a "
        "pair\nEMPTY=\n");
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(v, (std::vector<P>{{"PATH", "/usr/bin:/bin"},
                                 {"LANG", "C.UTF-8"},
                                 {"Q", "single"},
                                 {"A", "b"},
                                 {"EMPTY", ""}}));
}

}  // namespace
}  // namespace tavo::linuxwmi
