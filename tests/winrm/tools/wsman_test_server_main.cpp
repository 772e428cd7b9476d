// The test server as a program of its own, for clients that are not in the
// test binary (the independent Python client, a person with curl). Prints
// "PORT <n>" once it listens and serves until its standard input closes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "winrm/fixture_responder.h"
#include "winrm/server_paged_responder.h"
#include "winrm/wsman_test_server.h"

namespace {

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: wsman_test_server [--auth none|basic|ntlm] [--users FILE]\n"
                 "         [--cert FILE --key FILE]\n"
                 "         [--fixtures DIR | --synthetic N | --instances N] [--page N]\n"
                 "  FILE of --users holds DOMAIN:USER:PASSWORD lines (NTLM and Basic).\n"
                 "  --fixtures answers from the reply folders under DIR (tests/data/winrm),\n"
                 "  --synthetic from N process-like instances of any class, --instances\n"
                 "  from N services; pages of --page instances.\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tavo::winrm::testing;
    ServerOptions o;
    int instances = 100, page = 20, synthetic = 0;
    std::string fixtures;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (a == "--auth") {
            std::string v = value();
            o.auth = v == "ntlm"    ? ServerAuth::Ntlm
                     : v == "basic" ? ServerAuth::Basic
                                    : ServerAuth::None;
            if (v != "ntlm" && v != "basic" && v != "none") usage();
        } else if (a == "--users") {
            o.userFile = value();
        } else if (a == "--cert") {
            o.certFile = value();
        } else if (a == "--key") {
            o.keyFile = value();
        } else if (a == "--instances") {
            instances = std::atoi(value().c_str());
        } else if (a == "--fixtures") {
            fixtures = value();
        } else if (a == "--synthetic") {
            synthetic = std::atoi(value().c_str());
        } else if (a == "--page") {
            page = std::atoi(value().c_str());
        } else {
            usage();
        }
    }
    if (!fixtures.empty())
        o.responder = tavo::testing::makeFixtureResponder(fixtures);
    else if (synthetic > 0)
        o.responder = tavo::testing::makeSyntheticResponder(synthetic, page);
    else
        o.responder = makePagedResponder(instances, page);
    try {
        WsmanTestServer server(o);
        std::printf("PORT %d\n", server.port());
        std::fflush(stdout);
        std::string line;
        while (std::getline(std::cin, line)) {
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wsman_test_server: %s\n", e.what());
        return 1;
    }
    return 0;
}
