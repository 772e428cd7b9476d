#include "support/cancellation.h"

#include <utility>

namespace tavo::cycle {

namespace {
thread_local std::stop_token tCurrent;
}

std::stop_token currentStopToken() {
    return tCurrent;
}

StopScope::StopScope(std::stop_token token)
    : previous_(std::exchange(tCurrent, std::move(token))) {}

StopScope::~StopScope() {
    tCurrent = std::move(previous_);
}

}  // namespace tavo::cycle
