#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/report_command.h"
#include "collectors/management.h"
#include "cycle/cancellation.h"
#include "support/fake_management.h"

namespace tavo::testing {

// A management service per computer, safe for passes on many threads: each
// computer has its own scripted backend; some refuse, some answer slowly,
// some never answer at all.
class ComputerFarm : public wmi::ConnectionFactory {
  public:
    std::map<std::string, std::shared_ptr<FakeBackend>> computers;
    std::set<std::string> refused;
    std::chrono::milliseconds delay{0};
    // Computers whose connect waits until released, whatever the stop says.
    std::set<std::string> stuck;
    std::atomic<bool> release{false};
    // Computers whose connect waits until the pass is asked to stop.
    std::set<std::string> slowUntilStopped;
    std::atomic<int> connects{0};

    std::unique_ptr<wmi::Connection> connect(const std::string& moniker) override {
        const std::string computer = wmi::parseMoniker(moniker);
        ++connects;
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        if (stuck.count(computer))
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (slowUntilStopped.count(computer)) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            const std::stop_token token = cycle::currentStopToken();
            while (!token.stop_requested() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            throw Error(errc::kTimedOut, "stopped while connecting to " + computer);
        }
        if (refused.count(computer))
            throw Error(errc::kServerUnavailable, "The RPC server is unavailable.");
        std::shared_ptr<FakeBackend> b;
        {
            // Each computer has a backend (and a log) of its own, so passes on
            // different threads never share the fake's unguarded records.
            std::lock_guard lock(mutex_);
            auto it = computers.find(computer);
            if (it == computers.end()) {
                const auto any = computers.find("*");
                if (any == computers.end())
                    throw Error(errc::kServerUnavailable, "No such computer: " + computer);
                auto copy = std::make_shared<FakeBackend>(*any->second);
                copy->log = std::make_shared<FakeLog>();
                it = computers.emplace(computer, std::move(copy)).first;
            }
            b = it->second;
        }
        return b->connect(computer);
    }

  private:
    std::mutex mutex_;
};

// Two processes and one "Logical Drives" disk, as fake data every computer shares.
inline std::shared_ptr<FakeBackend> sampleComputer() {
    auto b = std::make_shared<FakeBackend>();
    b->script("SELECT * FROM Win32_Process")
        .add(FakeObject()
                 .with("Name", "init")
                 .with("ProcessId", 1)
                 .with("CommandLine", "/sbin/init \"splash\", quiet")
                 .with("Status", "OK"))
        .add(FakeObject()
                 .with("Name", "=cmd|' /C calc'!A0")
                 .with("ProcessId", 4242)
                 .with("CommandLine", "<b>bold</b> & \xC3\xA9t\xC3\xA9")
                 .withNull("Status"));
    b->script("Select * from Win32_LogicalDisk")
        .add(FakeObject()
                 .with("DeviceID", "/")
                 .with("Description", "Local Fixed Disk")
                 .with("FileSystem", "ext4")
                 .with("Size", "107374182400")
                 .with("FreeSpace", "10737418240")
                 .with("VolumeName", "root")
                 .with("DriveType", 3));
    return b;
}

}  // namespace tavo::testing
