#include "platform/linux/wmi/remote_provider.h"

#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include "grid/error.h"
#include "platform/linux/wmi/empty_reasons.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/system_sources.h"
#include "schema/schema.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

using namespace remote_view;

using Clock = std::chrono::steady_clock;

// The remote's clock is asked again after this long, so a change of its
// time or of daylight saving time shows within it.
constexpr auto kClockLife = std::chrono::minutes(10);

// The facts section ("now" with its UTC offset, the offsets of January and
// July, TZ) as the remote said it, and when: later passes tell the remote's
// time from ours without starting `date` there.
struct LearnedClock {
    std::int64_t remoteNow = 0;
    std::string offset;  // "+0100", as `date` printed it
    std::string rest;    // the lines after the first
    Clock::time_point asked;

    static std::optional<LearnedClock> from(const Snapshot& snap, Clock::time_point answered) {
        const auto it = snap.commands.find(std::string(kFacts));
        if (it == snap.commands.end() || !it->second || it->second->status != 0)
            return std::nullopt;
        const std::string& out = it->second->out;
        const auto nl = out.find('\n');
        const auto words = text::splitWords(std::string_view(out).substr(0, nl));
        const auto now =
            words.size() == 2 ? text::wholeNumber<std::int64_t>(words[0]) : std::nullopt;
        if (!now || nl == std::string::npos) return std::nullopt;
        return LearnedClock{*now, std::string(words[1]), out.substr(nl + 1), answered};
    }

    std::optional<CommandOutput> factsNow() const {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - asked).count();
        return CommandOutput{std::to_string(remoteNow + elapsed) + " " + offset + "\n" + rest, 0};
    }
};

std::optional<RemoteTools> toolsOf(const Snapshot& snap) {
    const auto it = snap.commands.find(std::string(kTools));
    if (it == snap.commands.end() || !it->second || it->second->status != 0) return std::nullopt;
    return parseTools(it->second->out);
}

// Runs a class over another computer in rounds: fetch what it is known to
// read, run it over the snapshot, fetch what it asked for beyond that, and
// so on, at most `maxRounds` times. What a class read in its last pass is
// fetched with the first round of the next one, so a steady report costs
// one round trip a pass.
class RemotePass : public ClassPass {
  public:
    RemotePass(std::shared_ptr<remote::RemoteShell> shell, RemoteOptions options)
        : shell_(std::move(shell)), options_(std::move(options)) {}

    std::vector<Instance> run(std::string_view className, const Producer& producer,
                              PassNotes& notes) override {
        Requests wanted = declaredReads(className);
        {
            std::lock_guard lock(mutex_);
            const auto it = learned_.find(std::string(className));
            if (it != learned_.end()) wanted.insert(it->second.begin(), it->second.end());
        }
        auto snapshot = std::make_shared<Snapshot>();
        ScriptOptions script{static_cast<int>((options_.commandTimeout.count() + 999) / 1000),
                             options_.root, std::nullopt};
        const Request clockRequest{Kind::Command, std::string(kFacts), 0, false};
        {
            // What the session learned already is not asked again: the
            // machine's fixed facts, what its tools can do, and its clock
            // (told from ours since, until it is asked again).
            std::lock_guard lock(mutex_);
            if (machine_) {
                snapshot->commands[std::string(kMachine)] = machine_;
                wanted.erase(Request{Kind::Command, std::string(kMachine), 0, false});
            }
            script.tools = tools_;
            if (clock_ && Clock::now() - clock_->asked < kClockLife) {
                snapshot->commands[std::string(kFacts)] = clock_->factsNow();
                wanted.erase(clockRequest);
            }
        }
        const bool askingClock = wanted.count(clockRequest) > 0;
        Clock::time_point clockAnswered{};
        Requests asked;
        std::vector<Instance> out;
        int rounds = 0;
        std::shared_ptr<LostValues> lost;
        while (true) {
            bool fetched = false;
            if (!wanted.empty()) {
                ++rounds;
                fetched = fetch(wanted, script, *snapshot, rounds == 1);
                if (rounds == 1) clockAnswered = Clock::now();
                asked.insert(wanted.begin(), wanted.end());
                if (!script.tools) script.tools = toolsOf(*snapshot);
            }
            auto misses = std::make_shared<MissLog>();
            // Each round counts afresh: only the last one's losses are the pass's.
            lost = std::make_shared<LostValues>();
            const SystemContext ctx =
                makeSnapshotContext(snapshot, misses, options_.commandTimeout, lost);
            out = producer(ctx);
            notes.whyEmpty = out.empty() ? whyNoInstances(className, ctx) : std::string();
            // Ask only for what was not asked already: a value that came back
            // empty stays empty, and a round without news ends the pass.
            wanted.clear();
            for (const Request& r : misses->take()) {
                if (!asked.count(r)) wanted.insert(r);
            }
            if (wanted.empty() || !fetched || rounds >= options_.maxRounds) break;
        }
        notes.lost = lost->summary();
        roundTrips_ = rounds;
        std::lock_guard lock(mutex_);
        if (auto it = snapshot->commands.find(std::string(kMachine));
            !machine_ && it != snapshot->commands.end() && it->second && it->second->status == 0)
            machine_ = it->second;
        if (!tools_) tools_ = script.tools;
        if (askingClock) {
            if (auto learned = LearnedClock::from(*snapshot, clockAnswered)) clock_ = learned;
        }
        learned_[std::string(className)] = std::move(asked);
        return out;
    }

    int roundTrips() const { return roundTrips_; }

  private:
    // One round trip. A connection that fails fails the pass with the
    // shell's own message, and so does a first round that did not finish:
    // without the computer's clock and files, a row would be made of
    // defaults. A later round that misses its deadline leaves what it asked
    // for lost, and counted (false: no further round is worth it).
    bool fetch(const Requests& wanted, const ScriptOptions& script, Snapshot& snapshot,
               bool first) {
        const std::string boundary = makeBoundary();
        // Each file system's size may wait its own timeout on the remote.
        std::size_t mounts = 0;
        for (const Request& r : wanted) mounts += r.kind == Kind::StatFs;
        const auto deadline =
            options_.runDeadline + options_.commandTimeout * static_cast<long>(mounts);
        remote::ShellRun run;
        try {
            run = shell_->run(buildScript(wanted, boundary, script), deadline);
        } catch (const Error& e) {
            if (e.number() != errc::kTimedOut || first) throw;
            parseOutput({}, boundary, wanted, script, snapshot);
            return false;
        }
        parseOutput(run.out, boundary, wanted, script, snapshot);
        return true;
    }

    std::shared_ptr<remote::RemoteShell> shell_;
    const RemoteOptions options_;
    std::mutex mutex_;
    std::map<std::string, Requests> learned_;
    std::optional<CommandOutput> machine_;
    std::optional<RemoteTools> tools_;
    std::optional<LearnedClock> clock_;
    std::atomic<int> roundTrips_{-1};
};

class RemoteBackend : public wmi::Backend {
  public:
    RemoteBackend(std::shared_ptr<remote::RemoteShell> shell, RemoteOptions options)
        : pass_(std::make_shared<RemotePass>(std::move(shell), std::move(options))),
          inner_(makeProviderOver(pass_, std::shared_ptr<const Registry>(std::shared_ptr<void>(),
                                                                         &Registry::instance()))) {}

    std::unique_ptr<wmi::Connection> connect(const std::string& moniker) override {
        return inner_->connect(moniker);
    }

    std::optional<int> roundTrips() const {
        const int n = pass_->roundTrips();
        return n < 0 ? std::nullopt : std::optional<int>(n);
    }

  private:
    std::shared_ptr<RemotePass> pass_;
    std::shared_ptr<wmi::Backend> inner_;
};

}  // namespace

std::shared_ptr<wmi::Backend> makeRemoteProvider(std::shared_ptr<remote::RemoteShell> shell,
                                                 RemoteOptions options) {
    return std::make_shared<RemoteBackend>(std::move(shell), std::move(options));
}

std::optional<int> lastRoundTrips(const wmi::Backend& backend) {
    const auto* remote = dynamic_cast<const RemoteBackend*>(&backend);
    return remote ? remote->roundTrips() : std::nullopt;
}

}  // namespace tavo::linuxwmi
