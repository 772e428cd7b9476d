#pragma once

#include <string>
#include <string_view>
#include <vector>

// The computers a report is asked of, from what the user typed or a file.
namespace tavo::cycle {

// The computer field's text as targets: separated by commas or white space,
// each kept as typed. No target text holds either, so nothing is split
// that should not be. Empty parts are dropped.
std::vector<std::string> splitTargets(std::string_view text);

// A file of computers: one a line, '#' starts a comment, blank lines and
// the white space around a name are ignored.
std::vector<std::string> computersFromText(std::string_view text);

// The targets as the computer field shows them again: joined by ", ".
std::string joinTargets(const std::vector<std::string>& targets);

}  // namespace tavo::cycle
