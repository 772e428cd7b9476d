#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "cycle/cancellation.h"
#include "cycle/deadline.h"
#include "grid/error.h"
#include "platform/linux/winrm/soap_transport.h"

namespace tavo::testing {

// A transport that hands each envelope to a responder in this process. The
// responder runs on a worker thread, so a slow reply meets the deadline and
// STOP exactly as a reply over a socket would.
class InProcessTransport : public winrm::SoapTransport {
  public:
    explicit InProcessTransport(std::shared_ptr<winrm::SoapResponder> responder,
                                std::string endpoint = "http://win-fixture:5985/wsman")
        : responder_(std::move(responder)), endpoint_(std::move(endpoint)) {}

    winrm::SoapReply post(const std::string& envelope,
                          std::chrono::milliseconds deadline) override {
        ++posts;
        lastDeadline = deadline;
        auto pending = startOnWorker([r = responder_, envelope] { return r->answer(envelope); });
        auto reply = pending.waitFor(deadline, true);
        if (reply) return std::move(*reply);
        if (cycle::currentStopToken().stop_requested())
            throw Error(errc::kTimedOut, "Stopped while waiting for " + endpoint_);
        throw Error(errc::kTimedOut, "No reply from " + endpoint_ + " within " +
                                         std::to_string(deadline.count()) + " ms");
    }
    std::string endpoint() const override { return endpoint_; }

    std::atomic<int> posts{0};
    std::chrono::milliseconds lastDeadline{0};

  private:
    std::shared_ptr<winrm::SoapResponder> responder_;
    std::string endpoint_;
};

}  // namespace tavo::testing
