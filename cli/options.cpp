#include "cli/options.h"

#include <charconv>
#include <cmath>

#include "collectors/management.h"
#include "collectors/report_definition.h"
#include "grid/error.h"
#include "support/text.h"

namespace tavo::cli {

namespace {

int parseJobs(const std::string& text) {
    const auto n = text::wholeNumber<int>(text);
    if (!n || *n < 1 || *n > 1024)
        throw UsageError("-j wants a number of computers from 1 to 1024, not \"" + text + "\"");
    return *n;
}

double parseSeconds(const std::string& text) {
    // Read as C reads it, whatever the locale's decimal point.
    const auto s = text::wholeNumber<double>(text);
    if (!s || !std::isfinite(*s) || *s <= 0 || *s > 86400 * 7)
        throw UsageError("--timeout wants a number of seconds above 0, not \"" + text + "\"");
    return *s;
}

Format parseFormat(const std::string& text) {
    if (text == "csv") return Format::Csv;
    if (text == "html") return Format::Html;
    if (text == "json") return Format::Json;
    if (text == "table") return Format::Table;
    throw UsageError("unknown format \"" + text + "\" (csv, html, json or table)");
}

// A computer text the window's field would take (the management interface's
// own check), so a typo is a usage error before any computer is asked.
void checkComputer(const std::string& name) {
    if (name.empty()) throw UsageError("an empty computer name");
    try {
        wmi::parseMoniker(wmi::monikerFor(name));
    } catch (const Error& e) {
        throw UsageError(e.description());
    }
}

}  // namespace

Options parseOptions(std::span<const std::string> args,
                     std::vector<std::string> (*readComputers)(const std::string& path)) {
    Options o;
    std::vector<std::string> positional;
    bool computersAsked = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // "--name=value" and "--name value" alike; "-xVALUE" and "-x VALUE".
        std::string name = a;
        std::optional<std::string> inlineValue;
        if (a.starts_with("--")) {
            if (const auto eq = a.find('='); eq != std::string::npos) {
                name = a.substr(0, eq);
                inlineValue = a.substr(eq + 1);
            }
        } else if (a.size() > 2 && a[0] == '-' && a[1] != '-') {
            name = a.substr(0, 2);
            inlineValue = a.substr(2);
        }
        const auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) throw UsageError(name + " wants a value");
            return args[++i];
        };
        if (a == "--") {
            positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                              args.end());
            break;
        } else if (name == "-h" || name == "--help") {
            o.help = true;
        } else if (name == "--version") {
            o.version = true;
        } else if (name == "--list") {
            o.list = true;
        } else if (name == "-f" || name == "--format") {
            o.format = parseFormat(value());
        } else if (name == "-o" || name == "--output") {
            o.output = value();
            if (o.output.empty()) throw UsageError("-o wants a file name");
        } else if (name == "-c" || name == "--computer") {
            std::string c = value();
            checkComputer(c);
            o.computers.push_back(std::move(c));
            computersAsked = true;
        } else if (name == "--computers") {
            for (std::string& c : readComputers(value())) {
                checkComputer(c);
                o.computers.push_back(std::move(c));
            }
            computersAsked = true;
        } else if (name == "-j" || name == "--jobs") {
            o.jobs = parseJobs(value());
        } else if (name == "--timeout") {
            o.timeoutSeconds = parseSeconds(value());
        } else if (name == "-q" || name == "--query") {
            o.query = value();
            if (o.query.empty()) throw UsageError("--query wants a query");
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError("unknown option \"" + a + "\"");
        } else {
            positional.push_back(a);
        }
    }
    if (o.help || o.version || o.list) return o;

    if (positional.size() > 1)
        throw UsageError("one category at a time, not \"" + positional[0] + "\" and \"" +
                         positional[1] + "\" (quote a category of two words)");
    if (!positional.empty()) o.category = positional[0];
    if (o.category.empty() == o.query.empty())
        throw UsageError(o.query.empty() ? "name a category (see --list) or a --query"
                                         : "a category or a --query, not both");
    if (!o.category.empty() && !findReport(o.category))
        throw UsageError("unknown category \"" + o.category + "\" (see --list)");
    if (computersAsked && o.computers.empty())
        throw UsageError("the --computers file names no computer");
    o.computerColumn = o.computers.size() > 1;
    if (o.computers.empty()) o.computers.push_back(".");
    return o;
}

std::string usageText() {
    return R"(Usage: tavo-report [options] CATEGORY
       tavo-report [options] --query "SELECT * FROM Win32_..."
       tavo-report --list

Runs one pass of a report, as the Tavo window builds it, and prints it.

Options:
  -c, --computer NAME    the computer to ask (repeatable); default: this one
      --computers FILE   computers, one a line ('#' starts a comment)
  -f, --format FORMAT    csv, html, json or table
                         (default: table on a terminal, csv otherwise)
  -o, --output FILE      write to FILE, never over an existing file
  -j, --jobs N           computers asked at once (default 8)
      --timeout SECONDS  end the whole run after SECONDS
  -q, --query QUERY      any query, every property (instead of a CATEGORY)
      --list             the categories
  -h, --help             this text
      --version          the version

Exit status: 0 every computer answered, 1 some computer failed,
2 the command line is wrong, 130 interrupted.
)";
}

}  // namespace tavo::cli
