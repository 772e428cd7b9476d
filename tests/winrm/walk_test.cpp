// Whole enumerations against the fixture responder, through the back end the
// collectors use: pages, ends, STOP and Release, faults, deadlines.

#include <gtest/gtest.h>

#include <chrono>
#include <stop_token>
#include <thread>

#include "cycle/cancellation.h"
#include "grid/error.h"
#include "platform/linux/winrm/winrm_backend.h"
#include "winrm/fixture_responder.h"
#include "winrm/in_process_soap.h"

namespace tavo::winrm {
namespace {

using testing::FixtureResponder;
using testing::InProcessTransport;

struct Walk : ::testing::Test {
    std::shared_ptr<FixtureResponder> responder =
        testing::makeFixtureResponder(std::string(TAVO_TEST_DATA) + "/winrm");
    std::shared_ptr<InProcessTransport> transport = std::make_shared<InProcessTransport>(responder);
    WalkOptions options;

    std::unique_ptr<wmi::ResultSet> query(const std::string& wql) {
        auto backend = makeWinRmBackend([this](const std::string&) { return transport; }, options);
        return backend->connect("win-fixture")->execQuery(wql);
    }

    std::vector<std::string> names(const std::string& wql, const char* property = "Name") {
        auto rs = query(wql);
        std::vector<std::string> out;
        while (auto o = rs->next()) out.push_back(o->get(property).text());
        return out;
    }

    std::vector<std::string> actions() const {
        std::vector<std::string> out;
        for (const auto& r : responder->requests()) out.push_back(r.action);
        return out;
    }

    std::uint32_t failure(const std::string& wql, std::string* text = nullptr) {
        try {
            auto rs = query(wql);
            while (rs->next()) {
            }
        } catch (const Error& e) {
            if (text) *text = e.description();
            return e.number();
        }
        return 0;
    }
};

TEST_F(Walk, FollowsEveryPageTheServerChooses) {
    EXPECT_EQ(
        names("SELECT * FROM Win32_Service"),
        (std::vector<std::string>{"AppIDSvc", "BITS", "Dhcp", "Spooler", "W32Time", "WinRM"}));
    EXPECT_EQ(actions(), (std::vector<std::string>{"Enumerate", "Pull", "Pull"}));
    const auto requests = responder->requests();
    EXPECT_EQ(requests[0].filter, "SELECT * FROM Win32_Service");
    EXPECT_EQ(requests[0].maxElements, "32000");
    EXPECT_EQ(requests[1].maxElements, "32000");  // read from the enumeration namespace
    EXPECT_EQ(requests[1].context, "uuid:1-fixture-context");
    EXPECT_EQ(responder->openContexts(), 0);
}

TEST_F(Walk, EndsOnEitherFormAndNeverOnAPropertyOfThatName) {
    // A first page with a context and no end, then a Pull that ends.
    EXPECT_EQ(names("SELECT * FROM Win32_NetworkAdapterConfiguration Where IPEnabled = True",
                    "Description")
                  .size(),
              2u);
    // One optimized page ended in the wsman namespace: no Pull at all.
    EXPECT_EQ(names("SELECT * FROM Win32_LogicalDisk").size(), 3u);
    // The process after the one with an EndOfSequence property still comes.
    EXPECT_EQ(names("SELECT * FROM Win32_Process").size(), 6u);
    EXPECT_EQ(names("SELECT * FROM Win32_PrintJob").size(), 0u);
    EXPECT_EQ(actions(), (std::vector<std::string>{"Enumerate", "Pull", "Enumerate", "Enumerate",
                                                   "Pull", "Pull", "Enumerate"}));
}

TEST_F(Walk, APullThatTimedOutOnTheServerIsAskedAgain) {
    EXPECT_EQ(names("SELECT * FROM Tavo_PullTimedOut").size(), 2u);
    EXPECT_EQ(actions(), (std::vector<std::string>{"Enumerate", "Pull", "Pull"}));
}

TEST_F(Walk, StopMidWalkReleasesTheContextAndEndsQuietly) {
    std::stop_source stop;
    cycle::StopScope scope(stop.get_token());
    auto rs = query("SELECT * FROM Win32_Service");
    ASSERT_TRUE(rs->next());  // the first page: one service
    stop.request_stop();
    EXPECT_EQ(rs->next(), nullptr);
    EXPECT_EQ(actions(), (std::vector<std::string>{"Enumerate", "Release"}));
    EXPECT_EQ(responder->requests().back().context, "uuid:1-fixture-context");
    EXPECT_EQ(responder->openContexts(), 0);
}

TEST_F(Walk, AWalkDroppedHalfWayReleasesItsContext) {
    {
        auto rs = query("SELECT * FROM Win32_Process");
        ASSERT_TRUE(rs->next());
    }
    EXPECT_EQ(actions(), (std::vector<std::string>{"Enumerate", "Release"}));
    EXPECT_EQ(responder->openContexts(), 0);
    // A finished walk has nothing to release.
    names("SELECT * FROM Win32_Service");
    EXPECT_EQ(actions().back(), "Pull");
}

TEST_F(Walk, ASlowReplyMeetsTheLocalDeadlineAndStopAnswersAtOnce) {
    options.operationTimeout = std::chrono::milliseconds(300);
    options.networkSlack = std::chrono::milliseconds(200);
    const auto start = std::chrono::steady_clock::now();
    std::string text;
    EXPECT_EQ(failure("SELECT * FROM Tavo_Slow", &text), errc::kTimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000)) << text;
    // The server was told the same limit it is held to.
    EXPECT_EQ(responder->requests().at(0).operationTimeout, "PT0.300S");

    // STOP while the slow page is awaited: no failure, and nothing waits on.
    options = {};
    std::stop_source stop;
    cycle::StopScope scope(stop.get_token());
    auto rs = query("SELECT * FROM Tavo_Slow");
    ASSERT_TRUE(rs->next());
    std::thread presser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.request_stop();
    });
    const auto stopAt = std::chrono::steady_clock::now();
    EXPECT_EQ(rs->next(), nullptr);
    presser.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(1500));
}

TEST_F(Walk, WholeWalkDeadlineHoldsAcrossPages) {
    options.overall = std::chrono::milliseconds(0);
    EXPECT_EQ(failure("SELECT * FROM Win32_Service"), errc::kTimedOut);
}

TEST_F(Walk, FaultsCarryTheServicesCodeAndAdviceAnAdminCanActOn) {
    std::string text;
    EXPECT_EQ(failure("SELECT * FROM Win32_NoSuchClass", &text), errc::kInvalidClass);
    EXPECT_NE(text.find("Win32_NoSuchClass"), std::string::npos) << text;
    EXPECT_NE(text.find("Invalid class"), std::string::npos) << text;
    EXPECT_NE(text.find("0x8033801A"), std::string::npos) << text;

    EXPECT_EQ(failure("SELECT * FROM Tavo_AccessDenied", &text), errc::kAccessDenied);
    EXPECT_NE(text.find("LocalAccountTokenFilterPolicy"), std::string::npos) << text;
    EXPECT_NE(text.find("Remote Management Users"), std::string::npos) << text;
    EXPECT_NE(text.find("Access is denied."), std::string::npos) << text;

    EXPECT_EQ(failure("SELECT * FROM Tavo_NoListener", &text), errc::kServerUnavailable);
    EXPECT_NE(text.find("listener"), std::string::npos) << text;
    EXPECT_NE(text.find("http://win-fixture:5985/wsman"), std::string::npos) << text;

    EXPECT_EQ(failure("SELECT * FROM Tavo_Malformed", &text), errc::kFailed);
    EXPECT_NE(text.find("not well-formed"), std::string::npos) << text;
    EXPECT_NE(text.find("http://win-fixture:5985/wsman"), std::string::npos) << text;
    EXPECT_EQ(failure("SELECT * FROM Tavo_Doctype", &text), errc::kFailed);
}

TEST_F(Walk, AServerThatNeverGetsAnywhereIsGivenUpOn) {
    // Every Pull times out on the server: bounded by a count, not a spin
    // until the whole-walk deadline.
    class Empty : public SoapResponder {
      public:
        SoapReply answer(const std::string& request) override {
            ++calls;
            // Answers its own request: only the emptiness is wrong.
            const auto id = request.find("<a:MessageID>") + 13;
            const std::string messageId = request.substr(id, request.find('<', id) - id);
            return {200,
                    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
                    "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
                    "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\"><s:Header>"
                    "<a:RelatesTo>" +
                        messageId +
                        "</a:RelatesTo></s:Header><s:Body>"
                        "<n:PullResponse><n:EnumerationContext>uuid:c</n:EnumerationContext>"
                        "<n:Items/></n:PullResponse></s:Body></s:Envelope>"};
        }
        int calls = 0;
    };
    auto empty = std::make_shared<Empty>();
    transport = std::make_shared<InProcessTransport>(empty);
    std::string text;
    EXPECT_EQ(failure("SELECT * FROM Win32_Service", &text), errc::kFailed);
    EXPECT_NE(text.find("without instances"), std::string::npos) << text;
    EXPECT_LE(empty->calls, 102);
}

TEST(WinRmBackend, OneTransportPerComputerReusedAcrossPasses) {
    auto responder = testing::makeFixtureResponder(std::string(TAVO_TEST_DATA) + "/winrm");
    int made = 0;
    auto backend = makeWinRmBackend([&](const std::string& computer) {
        ++made;
        return std::make_shared<InProcessTransport>(responder,
                                                    "http://" + computer + ":5985/wsman");
    });
    for (int pass = 0; pass < 3; ++pass) {
        auto rs = backend->connect("WIN-1")->execQuery("SELECT * FROM Win32_BIOS");
        EXPECT_TRUE(rs->next());
    }
    backend->connect("win-1");
    EXPECT_EQ(made, 1);
    backend->connect("win-2");
    EXPECT_EQ(made, 2);

    auto none = makeWinRmBackend([](const std::string&) { return nullptr; });
    try {
        none->connect("win-3");
        ADD_FAILURE() << "connected to nothing";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kServerUnavailable);
        EXPECT_NE(e.description().find("win-3"), std::string::npos);
    }
}

TEST(WinRmBackend, ATransportThatWasRefusedIsMadeAnewForTheNextPass) {
    // Refused credentials: the next pass gets a new transport (and with it a
    // new chance to ask for them); a fault from the service does not.
    class Refusing : public SoapTransport {
      public:
        SoapReply post(const std::string&, std::chrono::milliseconds) override {
            throw Error(errc::kAccessDenied, "HTTP 401 from win-1 for CORP\\alice");
        }
        std::string endpoint() const override { return "http://win-1:5985/wsman"; }
    };
    auto responder = testing::makeFixtureResponder(std::string(TAVO_TEST_DATA) + "/winrm");
    int made = 0;
    auto backend = makeWinRmBackend([&](const std::string&) -> std::shared_ptr<SoapTransport> {
        if (++made == 1) return std::make_shared<Refusing>();
        return std::make_shared<InProcessTransport>(responder);
    });
    EXPECT_THROW(backend->connect("win-1")->execQuery("SELECT * FROM Win32_BIOS")->next(), Error);
    EXPECT_TRUE(backend->connect("win-1")->execQuery("SELECT * FROM Win32_BIOS")->next());
    EXPECT_EQ(made, 2);
    EXPECT_THROW(backend->connect("win-1")->execQuery("SELECT * FROM Tavo_AccessDenied")->next(),
                 Error);
    EXPECT_TRUE(backend->connect("win-1")->execQuery("SELECT * FROM Win32_BIOS")->next());
    EXPECT_EQ(made, 2);
}

TEST(WinRmBackend, AHostAwayForAPassKeepsItsTransportAndWithItTheCredentials) {
    // The transport reconnects by itself; a new one would ask for the
    // password again at every pass while the host is away.
    class Flapping : public SoapTransport {
      public:
        explicit Flapping(std::shared_ptr<SoapResponder> r) : inner_(std::move(r)) {}
        SoapReply post(const std::string& envelope, std::chrono::milliseconds d) override {
            if (away) throw Error(errc::kServerUnavailable, "Cannot reach win-1:5985: no answer");
            return inner_.post(envelope, d);
        }
        std::string endpoint() const override { return inner_.endpoint(); }
        bool away = false;

      private:
        InProcessTransport inner_;
    };
    auto responder = testing::makeFixtureResponder(std::string(TAVO_TEST_DATA) + "/winrm");
    int made = 0;
    std::shared_ptr<Flapping> last;
    auto backend = makeWinRmBackend([&](const std::string&) -> std::shared_ptr<SoapTransport> {
        ++made;
        return last = std::make_shared<Flapping>(responder);
    });
    EXPECT_TRUE(backend->connect("win-1")->execQuery("SELECT * FROM Win32_BIOS")->next());
    last->away = true;
    EXPECT_THROW(backend->connect("win-1")->execQuery("SELECT * FROM Win32_BIOS")->next(), Error);
    last->away = false;
    EXPECT_TRUE(backend->connect("win-1")->execQuery("SELECT * FROM Win32_BIOS")->next());
    EXPECT_EQ(made, 1);
}

// Answers with the fixture's reply, but as if to another request.
class MisaddressedResponder : public SoapResponder {
  public:
    explicit MisaddressedResponder(std::shared_ptr<SoapResponder> inner, std::string relatesTo)
        : inner_(std::move(inner)), relatesTo_(std::move(relatesTo)) {}
    SoapReply answer(const std::string& envelope) override {
        SoapReply r = inner_->answer(envelope);
        const auto open = r.body.find("<a:RelatesTo>");
        const auto close = r.body.find("</a:RelatesTo>");
        if (open != std::string::npos && close != std::string::npos) {
            const auto from = open + (relatesTo_.empty() ? 0 : 13);
            const auto to = relatesTo_.empty() ? close + 14 : close;
            r.body.replace(from, to - from, relatesTo_);
        }
        return r;
    }

  private:
    std::shared_ptr<SoapResponder> inner_;
    std::string relatesTo_;
};

TEST_F(Walk, AReplyToAnotherRequestIsRefusedNotMixedIn) {
    for (const char* relatesTo : {"uuid:00000000-0000-4000-8000-000000000000", ""}) {
        transport = std::make_shared<InProcessTransport>(
            std::make_shared<MisaddressedResponder>(responder, relatesTo));
        std::string text;
        EXPECT_EQ(failure("SELECT * FROM Win32_Service", &text), errc::kFailed) << relatesTo;
        EXPECT_NE(text.find("does not answer"), std::string::npos) << text;
    }
    // A fault WinRM could not address still tells why; one addressed to
    // another request does not.
    transport = std::make_shared<InProcessTransport>(
        std::make_shared<MisaddressedResponder>(responder, ""));
    EXPECT_EQ(failure("SELECT * FROM Win32_NoSuchClass"), errc::kInvalidClass);
    transport = std::make_shared<InProcessTransport>(
        std::make_shared<MisaddressedResponder>(responder, "uuid:other"));
    EXPECT_EQ(failure("SELECT * FROM Win32_NoSuchClass"), errc::kFailed);
}

}  // namespace
}  // namespace tavo::winrm
