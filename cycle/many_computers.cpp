#include "cycle/many_computers.h"

#include <algorithm>

namespace tavo::cycle {

ComputerRounds::ComputerRounds(std::vector<std::string> computers, std::size_t atOnce)
    : atOnce_(std::max<std::size_t>(1, atOnce)) {
    slots_.resize(computers.size());
    for (std::size_t i = 0; i < computers.size(); ++i) slots_[i].computer = std::move(computers[i]);
}

std::vector<std::size_t> ComputerRounds::beginRound() {
    ++round_;
    if (queueHead_ == queue_.size()) {
        queue_.clear();
        queueHead_ = 0;
    }
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& s = slots_[i];
        if (s.state != State::Idle) continue;
        s.state = State::Waiting;
        s.joined = round_;
        queue_.push_back(i);
    }
    return startWaiting();
}

std::vector<std::size_t> ComputerRounds::startWaiting() {
    std::vector<std::size_t> start;
    while (running_ < atOnce_ && queueHead_ < queue_.size()) {
        const std::size_t i = queue_[queueHead_++];
        slots_[i].state = State::Running;
        ++running_;
        start.push_back(i);
    }
    return start;
}

std::vector<std::size_t> ComputerRounds::passEnded(std::size_t i, PassOutcome outcome) {
    if (i >= slots_.size() || slots_[i].state != State::Running) return {};
    Slot& s = slots_[i];
    s.state = State::Idle;
    --running_;
    if (!outcome.cancelled) {
        auto t = std::make_shared<TargetOutcome>();
        t->computer = s.computer;
        t->grid = std::move(outcome.grid);
        t->lostValues = std::move(outcome.lostValues);
        t->failure = outcome.failure ? std::move(outcome.failure) : std::move(outcome.shownFailure);
        // The rows of a failed pass are not shown: its error row stands for them.
        if (t->failure) t->grid.reset();
        s.outcome = std::move(t);
        s.seen = s.joined;
    }
    return startWaiting();
}

bool ComputerRounds::roundEnded() const {
    return std::none_of(slots_.begin(), slots_.end(), [this](const Slot& s) {
        return s.joined == round_ && s.state != State::Idle;
    });
}

std::size_t ComputerRounds::answered() const {
    return static_cast<std::size_t>(std::count_if(
        slots_.begin(), slots_.end(),
        [this](const Slot& s) { return s.outcome && s.seen == round_ && !s.outcome->failure; }));
}

std::size_t ComputerRounds::old() const {
    return static_cast<std::size_t>(std::count_if(
        slots_.begin(), slots_.end(), [this](const Slot& s) { return s.seen != round_; }));
}

RoundsSnapshot ComputerRounds::snapshot() const {
    RoundsSnapshot out;
    out.outcomes.reserve(slots_.size());
    for (const Slot& s : slots_) {
        if (!s.outcome) continue;
        out.outcomes.push_back(s.outcome);
        out.old.push_back(s.seen != round_ ? 1 : 0);
    }
    return out;
}

void RoundsSnapshot::combineInto(grid::Grid& out) const {
    std::vector<const TargetOutcome*> shown;
    shown.reserve(outcomes.size());
    for (const auto& t : outcomes) shown.push_back(t.get());
    combine(shown, CombineOptions{true, true, true}, out);
    // combine() adds each computer's rows together, in the order given: its
    // error row, or every row of its grid. Rows kept from an earlier pass say
    // so where every view and export shows it, not only in a mark.
    const int errorColumn = out.columnsCount() - 1;
    std::size_t row = 0;
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const TargetOutcome& t = *shown[k];
        const std::size_t rows = t.failure ? 1
                                 : t.grid  ? static_cast<std::size_t>(t.grid->itemsCount())
                                           : 0;
        for (std::size_t r = row; old[k] && r < row + rows; ++r) {
            out.setRowMarks(r, grid::kRowOld);
            grid::ListItem& item = out.item(static_cast<int>(r) + 1);
            if (item.cell(errorColumn).empty()) item.setSubItems(errorColumn, kOldRowText);
        }
        row += rows;
    }
}

std::string ComputerRounds::lostValues() const {
    std::string out;
    for (const Slot& s : slots_) {
        if (!s.outcome || s.outcome->lostValues.empty()) continue;
        if (!out.empty()) out += '\n';
        out += s.computer + ": " + s.outcome->lostValues;
    }
    return out;
}

}  // namespace tavo::cycle
