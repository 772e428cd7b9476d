#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "private_cupsd.h"
#include "tests/support/loopback.h"

// The tests' own print server, for every test program that needs a real one.
namespace tavo::linuxwmi {

using tavo::testing::freeLoopbackPort;

// A private cupsd with two queues and two jobs, started once for the tests
// below and stopped after them.
class RealCups : public ::testing::Test {
  protected:
    static inline PrivateCupsd cupsd;
    static inline std::string failure;

    static std::string server() { return cupsd.server(); }

    // Runs a CUPS command line with a time limit; its output, or nothing
    // when it failed.
    static std::optional<std::string> run(const std::string& args) {
        const std::string cmd = "timeout 20 " + args + " 2>&1";
        FILE* f = popen(cmd.c_str(), "r");
        if (!f) return std::nullopt;
        std::string out;
        char buf[4096];
        while (std::size_t n = fread(buf, 1, sizeof buf, f)) out.append(buf, n);
        const int rc = pclose(f);
        if (rc != 0) {
            failure = cmd + " -> " + out;
            return std::nullopt;
        }
        return out;
    }

    static void SetUpTestSuite() {
        failure = cupsd.start("/tmp/tavo-cupsd-XXXXXX");
        if (!failure.empty()) return;
        const std::filesystem::path doc = cupsd.dir / "doc.txt";
        std::ofstream(doc) << "A page for the test queue.\n";
        const std::string h = " -h " + server();
        if (!run("lpadmin" + h +
                 " -p TavoTest -E -v file:///dev/null -D 'Tavo test queue'"
                 " -L 'Lab 3' -o printer-is-shared=true") ||
            !run("lpadmin" + h + " -p TavoStopped -E -v file:///dev/null") ||
            !run("lpadmin" + h + " -d TavoTest") ||
            !run("cupsdisable" + h + " -r 'Out for repair' TavoStopped") ||
            !run("lp" + h + " -d TavoTest -H hold -t 'Quarterly report' " + doc.string()) ||
            !run("lp" + h + " -d TavoStopped " + doc.string())) {
            return;
        }
        failure.clear();
    }

    static void TearDownTestSuite() { cupsd.stop(); }

    void SetUp() override {
        ASSERT_TRUE(failure.empty()) << failure;
        // The provider finds the server the way every CUPS client does.
        setenv("CUPS_SERVER", server().c_str(), 1);
    }
    void TearDown() override { unsetenv("CUPS_SERVER"); }
};

}  // namespace tavo::linuxwmi
