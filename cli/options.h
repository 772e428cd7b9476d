#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "cycle/computer_list.h"

// The command line of tavo-report.
namespace tavo::cli {

enum class Format { Default, Csv, Html, Json, Table };

struct Options {
    Format format = Format::Default;
    std::string output;                    // -o FILE; empty: standard output
    std::vector<std::string> computers;    // -c NAME (repeatable) and --computers FILE, in order
    bool computerColumn = false;           // more than one computer was asked for
    int jobs = 8;                          // -j N: computers asked at once
    std::optional<double> timeoutSeconds;  // --timeout SECONDS for the whole run
    std::string category;                  // the positional CATEGORY
    std::string query;                     // --query "SELECT ..."
    bool list = false;
    bool help = false;
    bool version = false;
};

// A command line that cannot be run; the message names the culprit.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads `args` (without the program name). `readFile` reads a --computers
// file (one name a line, '#' starts a comment) and throws UsageError when it
// cannot. Without -c or --computers the computer is this one (".").
Options parseOptions(std::span<const std::string> args,
                     std::vector<std::string> (*readComputers)(const std::string& path));

// The names in a --computers file's text, read as the window reads such a file.
using cycle::computersFromText;

std::string usageText();

}  // namespace tavo::cli
