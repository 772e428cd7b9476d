#include "platform/linux/wmi/lost_values.h"

namespace tavo::linuxwmi {

void LostValues::add(Why why, std::string what) {
    const auto i = static_cast<std::size_t>(why);
    std::lock_guard lock(mutex_);
    ++counts_[i];
    auto& examples = examples_[i];
    if (examples.size() < kExamples && !what.empty()) {
        for (const auto& e : examples) {
            if (e == what) return;
        }
        examples.push_back(std::move(what));
    }
}

std::string LostValues::summary() const {
    // What each reason says of one value and of several.
    static constexpr const char* kSaid[][2] = {
        {"could not be read in time", "could not be read in time"},
        {"was longer than Tavo keeps and was cut", "were longer than Tavo keeps and were cut"},
        {"was not sent by the computer", "were not sent by the computer"},
    };
    std::lock_guard lock(mutex_);
    std::string out;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        const std::size_t n = counts_[i];
        if (n == 0) continue;
        if (!out.empty()) out += "; ";
        out += std::to_string(n) + (n == 1 ? " value " : " values ") + kSaid[i][n == 1 ? 0 : 1];
        const auto& ex = examples_[i];
        if (!ex.empty()) {
            out += " (";
            for (std::size_t k = 0; k < ex.size(); ++k) out += (k ? ", " : "") + ex[k];
            if (n > ex.size()) out += ", ...";
            out += ")";
        }
    }
    return out;
}

}  // namespace tavo::linuxwmi
