#include "support/cancellation.h"

#include <utility>

namespace tavo::cycle {

namespace {
// A plain pointer to the scope's own token: a thread_local with a destructor
// is destroyed at thread exit by MinGW-w64's runtime in no fixed order with
// the thread's TLS block, and a token destroyed after that block is freed
// writes to freed memory (a heap corrupted under Wine and Windows).
thread_local const std::stop_token* tCurrent = nullptr;
}  // namespace

std::stop_token currentStopToken() {
    return tCurrent ? *tCurrent : std::stop_token{};
}

StopScope::StopScope(std::stop_token token)
    : token_(std::move(token)), previous_(std::exchange(tCurrent, &token_)) {}

StopScope::~StopScope() {
    tCurrent = previous_;
}

}  // namespace tavo::cycle
