// Lists a real Samba server's shares through the SMB back end: the test
// starts smbd on loopback with a private configuration and guest shares.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "container_resource.h"
#include "peer_processes.h"
#include "platform/linux/wnet/resource_tree.h"
#ifdef TAVO_HAVE_SMBCLIENT
#include "platform/linux/wnet/smb_provider.h"
#endif

#ifdef TAVO_HAVE_SMBCLIENT
namespace tavo::linuxwnet {
namespace {

using namespace std::chrono_literals;
using test::onPath;
using test::Peers;
using test::slurp;
using test::waitFor;

bool loopbackPortAnswers(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

std::string smbConfig(const std::string& dir) {
    return "[global]\n"
           "workgroup = TAVOTEST\n"
           "netbios name = TAVOSMB\n"
           "interfaces = lo\n"
           "bind interfaces only = yes\n"
           "smb ports = 445\n"
           "disable netbios = yes\n"
           "lock directory = " +
           dir +
           "/lock\n"
           "state directory = " +
           dir +
           "/state\n"
           "cache directory = " +
           dir +
           "/cache\n"
           "private dir = " +
           dir +
           "/private\n"
           "pid directory = " +
           dir +
           "/pid\n"
           "ncalrpc dir = " +
           dir +
           "/ncalrpc\n"
           "log file = " +
           dir +
           "/log.%m\n"
           "map to guest = Bad User\n"
           "restrict anonymous = 0\n"
           "server role = standalone server\n"
           "load printers = no\n"
           "printcap name = /dev/null\n"
           "disable spoolss = yes\n"
           "[media]\n"
           "path = " +
           dir +
           "/share\n"
           "guest ok = yes\n"
           "read only = yes\n"
           "comment = Films and music\n"
           "[backup$]\n"
           "path = " +
           dir +
           "/share\n"
           "guest ok = yes\n";
}

TEST(SmbPeer, ServerSharesAreListedAndHiddenSharesLeftOut) {
    if (geteuid() != 0) GTEST_SKIP() << "smbd needs root to listen on port 445";
    if (!onPath("smbd")) GTEST_SKIP() << "smbd is not installed (packages/netenum.txt)";
    if (loopbackPortAnswers(445)) GTEST_SKIP() << "an SMB server already listens on loopback";

    Peers peers("tavo-smb");
    const auto dir = peers.dir();
    ASSERT_FALSE(dir.empty());
    for (const char* sub : {"lock", "state", "cache", "private", "pid", "ncalrpc", "share"})
        test::fs::create_directories(dir / sub);
    std::ofstream(dir / "smb.conf") << smbConfig(dir.string());
    ASSERT_TRUE(peers.start(
        {"smbd", "--foreground", "--no-process-group", "-s", (dir / "smb.conf").string()},
        dir / "smbd.out"));
    ASSERT_TRUE(waitFor(15s, [] { return loopbackPortAnswers(445); }))
        << "smbd did not start: " << slurp(dir / "smbd.out");

    auto smb = std::make_shared<SmbProvider>();
    ResourceTree tree({smb});
    NETRESOURCEA server = tavo::testing::containerResource(RESOURCEDISPLAYTYPE_SERVER,
                                                           "\\\\127.0.0.1", "SMB Network");

    // A server that has just started may turn the first session away.
    HANDLE h = nullptr;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor(20s, [&] {
        return tree.openEnum(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &server, &h) == NO_ERROR;
    })) << "no share list from smbd";
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);

    std::vector<NETRESOURCEA> area(32);
    DWORD count = 0xFFFFFFFFu;
    DWORD size = static_cast<DWORD>(area.size() * sizeof(NETRESOURCEA));
    ASSERT_EQ(tree.enumResource(h, &count, area.data(), &size), NO_ERROR);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(area[0].lpRemoteName, "\\\\127.0.0.1\\media");
    EXPECT_STREQ(area[0].lpComment, "Films and music");
    EXPECT_EQ(area[0].dwDisplayType, RESOURCEDISPLAYTYPE_SHARE);
    EXPECT_EQ(area[0].dwType, RESOURCETYPE_DISK);
    EXPECT_EQ(area[0].dwUsage, RESOURCEUSAGE_CONNECTABLE);
    EXPECT_EQ(tree.closeEnum(h), NO_ERROR);
}

}  // namespace
}  // namespace tavo::linuxwnet
#endif  // TAVO_HAVE_SMBCLIENT
