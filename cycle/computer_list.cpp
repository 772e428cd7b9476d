#include "cycle/computer_list.h"

#include <algorithm>

#include "support/text.h"

namespace tavo::cycle {

std::vector<std::string> splitTargets(std::string_view text) {
    std::string spaced(text);
    std::replace(spaced.begin(), spaced.end(), ',', ' ');
    std::vector<std::string> out;
    for (const std::string_view word : text::splitWords(spaced)) out.emplace_back(word);
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
