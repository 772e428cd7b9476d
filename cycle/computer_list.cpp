#include "cycle/computer_list.h"

#include "support/text.h"

namespace tavo::cycle {

namespace {

bool isSeparator(char c) {
    return c == ',' || text::isSpace(c);
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
    for (std::string_view line : text::splitLines(text)) {
        line = line.substr(0, line.find('#'));
        if (const std::string_view name = text::trim(line); !name.empty()) out.emplace_back(name);
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
