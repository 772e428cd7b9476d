// Budget: a query of 10,000 instances through the WinRM back end over
// loopback HTTP with NTLM and every message sealed, in pages of 100 (100
// round trips on one kept-alive connection, as a periodic pass makes them),
// every property read, < 1 s. The test server runs in this process and
// shares the machine's cores with the client. The bare transport walk (no
// parsing) is timed beside it, to show the transport's share.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/grid_bench_data.h"
#include "collectors/management.h"
#include "platform/linux/winrm/transport_http.h"
#include "platform/linux/winrm/winrm_backend.h"
#include "winrm/fixture_responder.h"
#include "winrm/server_paged_responder.h"
#include "winrm/transport_test_support.h"
#include "winrm/wsman_test_server.h"

namespace {

using namespace tavo::winrm;
using namespace tavo::winrm::testing;

constexpr double kBudgetMs = 1000.0;
constexpr int kInstances = 10000;
constexpr int kPage = 100;
bench_data::Samples samples, bareSamples;
std::size_t replyBytes = 0;
std::size_t valuesRead = 0;

// An NTLM server answering `responder`, and a transport to it.
struct Loopback {
    TempDir dir;
    std::unique_ptr<WsmanTestServer> server;
    std::shared_ptr<SoapTransport> transport;

    explicit Loopback(std::shared_ptr<SoapResponder> responder) {
        ServerOptions o;
        o.auth = ServerAuth::Ntlm;
        o.userFile = writeUserFile(dir);
        o.responder = std::move(responder);
        server = std::make_unique<WsmanTestServer>(o);
        auto prompter = std::make_shared<ScriptedPrompter>();
        prompter->secrets.push_back(tavo::remote::SecretAnswer{"", kPassword});
        TransportOptions t;
        t.user = std::string(kDomain) + "\\" + kUser;
        t.host = "127.0.0.1";
        t.port = server->port();
        t.prompter = prompter;
        transport = makeHttpTransport(t);
    }
};

void BM_QueryOverLoopback(benchmark::State& state) {
    Loopback loop(tavo::testing::makeSyntheticResponder(kInstances, kPage));
    auto backend = makeWinRmBackend([&](const std::string&) { return loop.transport; });
    auto connection = backend->connect("127.0.0.1");
    // The handshake belongs to the connection, made once per session.
    loop.transport->post(enumerateEnvelope(loop.transport->endpoint()), std::chrono::seconds(10));
    for (auto _ : state) {
        const bench_data::Stopwatch watch;
        auto results = connection->execQuery("SELECT * FROM Win32_Process");
        int objects = 0;
        std::size_t values = 0;
        while (auto object = results->next()) {
            ++objects;
            for (const std::string& name : object->propertyNames()) {
                benchmark::DoNotOptimize(object->get(name));
                ++values;
            }
        }
        const double ms = watch.wallMs();
        if (objects != kInstances) state.SkipWithError("the query lost instances");
        samples.add(ms, watch.cpuSpentMs());
        state.SetIterationTime(ms / 1000.0);
        valuesRead = values;
    }
}
BENCHMARK(BM_QueryOverLoopback)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_BareWalkOverLoopback(benchmark::State& state) {
    // The same replies as the query's, walked without parsing them.
    Loopback loop(tavo::testing::makeSyntheticResponder(kInstances, kPage));
    SoapTransport& transport = *loop.transport;
    const std::string to = transport.endpoint();
    const std::string query = enumerateEnvelope(to);
    transport.post(query, std::chrono::seconds(10));
    for (auto _ : state) {
        const bench_data::Stopwatch watch;
        int pages = 0;
        std::size_t bytes = 0;
        SoapReply r = transport.post(query, std::chrono::seconds(10));
        for (;;) {
            ++pages;
            bytes += r.body.size();
            std::string context = contextOf(r.body);
            if (context.empty()) break;
            r = transport.post(pullEnvelope(to, context), std::chrono::seconds(10));
        }
        const double ms = watch.wallMs();
        if (pages != kInstances / kPage) state.SkipWithError("the walk lost pages");
        bareSamples.add(ms, watch.cpuSpentMs());
        state.SetIterationTime(ms / 1000.0);
        replyBytes = bytes;
    }
}
BENCHMARK(BM_BareWalkOverLoopback)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    std::printf(
        "Budget: a query of %d instances through the WinRM back end over loopback HTTP with NTLM "
        "sealing, pages of %d, every property read, < %.0f ms\n",
        kInstances, kPage, kBudgetMs);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("Values read per query: %zu; bare walk replies: %.1f MB unsealed\n", valuesRead,
                replyBytes / 1e6);
    bench_data::verdict("10,000-instance query over loopback, NTLM sealed", samples, kBudgetMs);
    bench_data::verdict("10,000-instance bare walk over loopback (no parsing)", bareSamples,
                        kBudgetMs);
    return 0;
}
