#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collectors/management.h"
#include "grid/error.h"
#include "remote/prompts.h"
#include "remote/target_text.h"

namespace tavo::remote {
namespace {

struct Accepted {
    std::string text;
    Scheme scheme;
    std::string user;
    std::string host;
    int port;
};

TEST(TargetText, SplitsEveryAcceptedForm) {
    const std::vector<Accepted> table = {
        {"server01", Scheme::None, "", "server01", 0},
        {"web-01.corp.example.", Scheme::None, "", "web-01.corp.example.", 0},
        {"10.0.0.5", Scheme::None, "", "10.0.0.5", 0},
        {"fe80::1%eth0", Scheme::None, "", "fe80::1%eth0", 0},
        {"[2001:db8::7]", Scheme::None, "", "2001:db8::7", 0},
        {"alice@server01", Scheme::None, "alice", "server01", 0},
        {"server01:2222", Scheme::None, "", "server01", 2222},
        {"alice@127.0.0.1:2222", Scheme::None, "alice", "127.0.0.1", 2222},
        {"bob@[::1]:65535", Scheme::None, "bob", "::1", 65535},
        {"[::1]:1", Scheme::None, "", "::1", 1},
        {"alice@::1", Scheme::None, "alice", "::1", 0},
        {"ssh://host", Scheme::Ssh, "", "host", 0},
        {"SSH://alice@host:22", Scheme::Ssh, "alice", "host", 22},
        {"ssh://[2001:db8::1]:2200", Scheme::Ssh, "", "2001:db8::1", 2200},
        {"winrm://win01", Scheme::WinRm, "", "win01", 0},
        {"winrm://admin@CORP.EXAMPLE@win01", Scheme::WinRm, "admin@CORP.EXAMPLE", "win01", 0},
        {"https://win01.corp:5986/wsman", Scheme::Https, "", "win01.corp", 5986},
        {"https://win01/", Scheme::Https, "", "win01", 0},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        Target t = parseTarget(row.text);
        EXPECT_EQ(t.scheme, row.scheme);
        EXPECT_EQ(t.user, row.user);
        EXPECT_EQ(t.host, row.host);
        EXPECT_EQ(t.port, row.port);
        EXPECT_EQ(t.explicitRemote(), row.scheme != Scheme::None || !row.user.empty() || row.port);
    }
}

TEST(TargetText, RejectsWithAReasonNamingTheText) {
    const std::vector<std::string> bad = {
        "",
        "@host",                  // empty user
        "alice@",                 // no host
        "host:",                  // no port
        "host:0",                 // port out of range
        "host:65536",             //
        "host:22x",               // not a number
        "host:+22",               //
        ":22",                    // no host
        "[::1",                   // bracket not closed
        "[::1]x",                 // junk after the bracket
        "[server]:22",            // a name in brackets
        "1:2:3",                  // neither host:port nor IPv6
        "ftp://host",             // unknown scheme
        "ssh://host/path",        // a path
        "ssh://host/",            //
        "al ice@host",            // space in the user
        "a:b@host",               // colon in the user
        "alice@ho st",            // space in the host
        ".:22",                   // this computer with a port
        "alice@.",                //
        "ssh://",                 //
        "10.0.0.300:22",          // bad address with a port
        "010.0.0.1",              // a leading zero, octal to some resolvers
        "1.2.3.4.5",              // too many parts
        "1:2:3:4:5:6:7:8:9",      // too many groups
        "2001:db8::1::2",         // two "::"
        "[12345::1]",             // a group of five digits
        "fe80::1%",               // an empty zone
        "host\\share",            // a backslash in the host
        "winrm://CORP\\admin@h",  // a backslash would end the moniker's computer
    };
    for (const auto& text : bad) {
        try {
            parseTarget(text);
            ADD_FAILURE() << "accepted \"" << text << "\"";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), errc::kInvalidSyntax) << text;
            EXPECT_NE(e.description().find("\"" + text + "\""), std::string::npos)
                << e.description();
        }
    }
}

TEST(TargetText, MonikerCarriesTheRemoteFormsAndRoutesThemAway) {
    for (const std::string computer : {"alice@127.0.0.1:2222", "ssh://alice@host", "host:22",
                                       "winrm://win01", "https://win01:5986", "bob@[::1]:22"}) {
        EXPECT_EQ(wmi::parseMoniker(wmi::monikerFor(computer)), computer);
        // A user, a port or a scheme is a service on that computer, even
        // when the computer is this one.
        EXPECT_FALSE(wmi::isLocalComputer(computer)) << computer;
    }
    EXPECT_TRUE(wmi::isLocalComputer("127.0.0.1"));
    EXPECT_TRUE(wmi::isLocalComputer("[::1]"));
    EXPECT_TRUE(wmi::isLocalComputer("localhost"));
}

TEST(TargetText, DisplayPutsBracketsBackWhereAPortFollows) {
    EXPECT_EQ(parseTarget("bob@[::1]:22").display(), "bob@[::1]:22");
    EXPECT_EQ(parseTarget("[::1]").display(), "::1");
    EXPECT_EQ(parseTarget("ssh://a@h:7").display(), "a@h:7");

    // A host-key question names the computer the same way, SSH's port left out.
    EXPECT_EQ((TrustQuestion{"SSH", "fe80::1", 2222, "", "", ""}.where()), "[fe80::1]:2222");
    EXPECT_EQ((TrustQuestion{"SSH", "fe80::1", 22, "", "", ""}.where()), "fe80::1");
    EXPECT_EQ((TrustQuestion{"HTTPS", "pc1", 5986, "", "", ""}.where()), "pc1:5986");
}

}  // namespace
}  // namespace tavo::remote
