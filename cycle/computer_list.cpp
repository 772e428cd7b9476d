#include "cycle/computer_list.h"

namespace tavo::cycle {

namespace {

bool isSeparator(char c) {
    return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::vector<std::string> splitTargets(std::string_view text) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSeparator(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !isSeparator(text[i])) ++i;
        if (i > start) out.emplace_back(text.substr(start, i - start));
    }
    return out;
}

std::vector<std::string> computersFromText(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (const auto hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        const auto first = line.find_first_not_of(" \t\r");
        if (first != std::string_view::npos) {
            const auto last = line.find_last_not_of(" \t\r");
            out.emplace_back(line.substr(first, last - first + 1));
        }
        start = end + 1;
    }
    return out;
}

std::string joinTargets(const std::vector<std::string>& targets) {
    std::string out;
    for (const auto& t : targets) {
        if (!out.empty()) out += ", ";
        out += t;
    }
    return out;
}

}  // namespace tavo::cycle
