#include "platform/linux/winrm/enumeration.h"

#include <algorithm>
#include <stop_token>
#include <utility>

#include "cycle/cancellation.h"
#include "grid/error.h"
#include "platform/linux/winrm/envelope.h"
#include "platform/linux/winrm/faults.h"
#include "platform/linux/winrm/wsman_names.h"

namespace tavo::winrm {

namespace {
using Clock = std::chrono::steady_clock;

// Replies in a row that bring nothing (TimedOut faults, empty pages) before
// the walk is given up on: a server in a loop must not keep the pass busy
// until the overall deadline.
constexpr int kMaxIdleReplies = 100;

bool isTimedOutFault(const EnumerationReply& r) {
    if (!r.fault) return false;
    const std::string& s = r.fault->subcode;
    return s.size() >= 8 && s.compare(s.size() - 8, 8, "TimedOut") == 0;
}
}  // namespace

EnumerationWalk::EnumerationWalk(std::shared_ptr<SoapTransport> transport, std::string wql,
                                 WalkOptions options,
                                 std::function<void(const Error&)> transportFailed)
    : transport_(std::move(transport)),
      wql_(std::move(wql)),
      options_(std::move(options)),
      transportFailed_(std::move(transportFailed)),
      until_(Clock::now() + options_.overall) {}

EnumerationWalk::~EnumerationWalk() {
    release();
}

EnumerationReply EnumerationWalk::send(const std::string& envelope, const std::string& messageId,
                                       std::chrono::milliseconds deadline) {
    ++requests_;
    const auto until = Clock::now() + deadline;
    SoapReply reply;
    try {
        reply = transport_->post(envelope, deadline);
    } catch (const Error& e) {
        if (transportFailed_ && !cycle::currentStopToken().stop_requested()) transportFailed_(e);
        throw;
    }
    std::optional<EnumerationReply> parsed;
    try {
        parsed = parseReply(reply.body, until);
    } catch (const Error& e) {
        // A failure status with a body that is no envelope (an HTML page
        // from a proxy, nothing at all) is told by its status.
        if (reply.httpStatus != 200) throw faultError(reply, nullptr, transport_->endpoint(), wql_);
        // Which computer sent it matters when many are asked.
        std::string text = e.description();
        const std::string service = "The WinRM service";
        if (text.rfind(service, 0) == 0)
            text.insert(service.size(), " at " + transport_->endpoint());
        throw Error(e.number(), text + ", for \"" + wql_ + "\"");
    }
    // A reply to another request (a stale one on a kept-alive connection,
    // or one put there by someone on the way) would mix its instances in.
    // Only a fault may come without RelatesTo: WinRM cannot name a request
    // it could not read, and a fault brings no instances.
    const bool unaddressedFault = parsed->fault && parsed->relatesTo.empty();
    if (parsed->relatesTo != messageId && !unaddressedFault)
        throw Error(
            errc::kFailed,
            "The WinRM service at " + transport_->endpoint() +
                " sent a reply that does not answer Tavo's request (RelatesTo " +
                (parsed->relatesTo.empty() ? std::string("missing")
                                           : "\"" + parsed->relatesTo.substr(0, 80) + "\"") +
                ", expected \"" + messageId + "\"), for \"" + wql_ + "\"");
    if (reply.httpStatus == 200 && !parsed->fault) return std::move(*parsed);
    if (isTimedOutFault(*parsed)) return std::move(*parsed);  // the caller decides
    throw faultError(reply, &*parsed, transport_->endpoint(), wql_);
}

bool EnumerationWalk::nextPage(std::vector<ReplyItem>& items) {
    items.clear();
    const std::stop_token stop = cycle::currentStopToken();
    int idle = 0;
    while (!done_) {
        if (idle >= kMaxIdleReplies) {
            release();
            throw Error(errc::kFailed, "The WinRM service at " + transport_->endpoint() +
                                           " answered " + std::to_string(idle) +
                                           " requests in a row without instances or an end for \"" +
                                           wql_ + "\"");
        }
        if (stop.stop_requested()) {
            release();
            return false;
        }
        const auto now = Clock::now();
        if (now >= until_) {
            release();
            throw Error(errc::kTimedOut, "The WinRM service at " + transport_->endpoint() +
                                             " did not finish \"" + wql_ + "\" within " +
                                             std::to_string(options_.overall.count() / 1000) +
                                             " seconds");
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until_ - now);
        const auto deadline = std::min(options_.operationTimeout + options_.networkSlack, left);

        EnvelopeHeader header;
        header.to = transport_->endpoint();
        header.maxEnvelopeSize = options_.maxEnvelopeSize;
        // Never ask the server to work longer than we will wait for it.
        header.operationTimeout = std::min(options_.operationTimeout, left);
        header.locale = options_.locale;
        header.messageId = newMessageId();

        EnumerationReply reply;
        try {
            reply = send(started_ ? pullEnvelope(header, context_, options_.maxElements)
                                  : enumerateEnvelope(header, wql_, options_.maxElements),
                         header.messageId, deadline);
        } catch (const Error&) {
            if (stop.stop_requested()) {
                // The transport gave up because of STOP: no failure to show.
                release();
                return false;
            }
            // After a fault the server has dropped the context; after a
            // transport failure nothing more goes through.
            context_.clear();
            done_ = true;
            throw;
        }
        if (reply.fault) {
            // TimedOut on a Pull: nothing was ready within the operation
            // timeout, and WinRM keeps the context for the next Pull; ask again.
            if (started_) {
                ++idle;
                continue;
            }
            done_ = true;
            throw faultError(SoapReply{500, {}}, &reply, transport_->endpoint(), wql_);
        }
        started_ = true;
        if (!reply.context.empty()) context_ = std::move(reply.context);
        if (reply.endOfSequence) {
            done_ = true;
            context_.clear();  // an ended enumeration needs no Release
        } else if (context_.empty()) {
            // Neither an end nor a way on: take what came as the whole answer.
            done_ = true;
        }
        if (stop.stop_requested()) {
            release();
            return false;
        }
        if (!reply.items.empty()) {
            items = std::move(reply.items);
            return true;
        }
        ++idle;
    }
    return false;
}

void EnumerationWalk::release() noexcept {
    done_ = true;
    if (context_.empty() || !transport_) return;
    const std::string context = std::exchange(context_, std::string());
    try {
        // Sent even when STOP ended the walk: so the server does not keep
        // the context (and its quota) for minutes. A deadline of its own,
        // untouched by the stopped pass's token.
        cycle::StopScope unstoppable{std::stop_token{}};
        EnvelopeHeader header;
        header.to = transport_->endpoint();
        header.maxEnvelopeSize = options_.maxEnvelopeSize;
        header.operationTimeout = options_.releaseDeadline;
        header.locale = options_.locale;
        ++requests_;
        transport_->post(releaseEnvelope(header, context), options_.releaseDeadline);
    } catch (...) {
        // Best effort: the server drops an idle context on its own.
    }
}

}  // namespace tavo::winrm
