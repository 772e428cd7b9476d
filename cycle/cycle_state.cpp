#include "cycle/cycle_state.h"

namespace tavo::cycle {

void CycleState::abandon() {
    if (!current_) return;
    current_->stop.request_stop();
    abandonedId_ = current_->id;
    current_.reset();
}

void CycleState::start() {
    abandon();
    state_ = State::Running;
}

void CycleState::stop() {
    if (state_ != State::Running) return;
    const bool out = current_.has_value();
    abandon();
    state_ = out ? State::Stopping : State::Stopped;
}

std::optional<PassTicket> CycleState::beginPass() {
    if (state_ != State::Running || current_) return std::nullopt;
    current_ = Out{nextId_++, std::stop_source()};
    return PassTicket{current_->id, current_->stop.get_token()};
}

bool CycleState::finishPass(std::uint64_t id) {
    if (current_ && current_->id == id) {
        current_.reset();
        return state_ == State::Running;
    }
    if (abandonedId_ == id) {
        abandonedId_.reset();
        if (state_ == State::Stopping) state_ = State::Stopped;
    }
    return false;
}

}  // namespace tavo::cycle
