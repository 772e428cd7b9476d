#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "grid/error.h"
#include "platform/linux/winrm/reply_parser.h"
#include "platform/linux/winrm/soap_transport.h"

// One WQL enumeration walked to its end: Enumerate, then Pull while the
// server has more (it chooses each page's size, MaxElements only bounds
// it), and Release when the walk is abandoned before the end (DSP0226 section 8).
namespace tavo::winrm {

struct WalkOptions {
    std::uint32_t maxElements = 32000;
    std::uint32_t maxEnvelopeSize = 512000;
    // The server's own limit per request (w:OperationTimeout) ...
    std::chrono::milliseconds operationTimeout{60000};
    // ... and ours on top of it, for the network: the local deadline of a
    // request is the sum.
    std::chrono::milliseconds networkSlack{10000};
    // The whole walk, however many pages.
    std::chrono::milliseconds overall{180000};
    // What a Release after STOP may take; it is a courtesy to the server.
    std::chrono::milliseconds releaseDeadline{3000};
    std::string locale = "en-US";
};

class EnumerationWalk {
  public:
    // `transportFailed` hears of a request the transport itself could not
    // carry (refused credentials, a host it could not reach), as opposed to
    // a fault the service answered with.
    EnumerationWalk(std::shared_ptr<SoapTransport> transport, std::string wql,
                    WalkOptions options = {},
                    std::function<void(const Error&)> transportFailed = nullptr);
    // A walk dropped before its end releases its context.
    ~EnumerationWalk();
    EnumerationWalk(const EnumerationWalk&) = delete;
    EnumerationWalk& operator=(const EnumerationWalk&) = delete;

    // The next non-empty page into `items` (replacing its contents); false
    // at the end of the sequence or when the pass was stopped (the context
    // is released then). Throws tavo::Error for a fault, a reply it cannot
    // read, or a walk that outlives its deadline.
    bool nextPage(std::vector<ReplyItem>& items);

    // Requests sent so far (Enumerate, Pulls, Release).
    int requests() const { return requests_; }

  private:
    EnumerationReply send(const std::string& envelope, const std::string& messageId,
                          std::chrono::milliseconds deadline);
    void release() noexcept;

    std::shared_ptr<SoapTransport> transport_;
    std::string wql_;
    WalkOptions options_;
    std::function<void(const Error&)> transportFailed_;
    std::chrono::steady_clock::time_point until_;
    std::string context_;
    bool started_ = false;
    bool done_ = false;
    int requests_ = 0;
};

}  // namespace tavo::winrm
