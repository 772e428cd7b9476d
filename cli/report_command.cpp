#include "cli/report_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>

#include "cli/options.h"
#include "cli/report_output.h"
#include "cli/report_stream.h"
#include "cli/run_targets.h"
#include "collectors/report_definition.h"
#include "grid/error.h"
#include "grid/export.h"
#include "grid/export_file.h"
#include "support/text.h"

#ifndef TAVO_VERSION
#define TAVO_VERSION "0"
#endif

namespace tavo::cli {

namespace {

constexpr const char* kProgram = "tavo-report: ";

std::vector<std::string> readComputersFile(const std::string& path) {
    std::ifstream in(grid::pathFromUtf8(path), std::ios::binary);
    if (!in) throw UsageError("cannot read the computers file \"" + path + "\"");
    std::ostringstream text;
    // A list of computers is small; a huge file is a mistake, not a list.
    constexpr std::size_t kMaxBytes = 16u << 20;
    std::string chunk(65536, '\0');
    std::size_t total = 0;
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        total += static_cast<std::size_t>(in.gcount());
        if (total > kMaxBytes)
            throw UsageError("the computers file \"" + path + "\" is larger than 16 MiB");
        text.write(chunk.data(), in.gcount());
    }
    return computersFromText(text.str());
}

Format formatFor(const Options& o, const Environment& env) {
    if (o.format != Format::Default) return o.format;
    if (!o.output.empty()) {
        const auto ends = [&](std::string_view ext) {
            return o.output.size() >= ext.size() &&
                   text::equalsIgnoreCase(
                       std::string_view(o.output).substr(o.output.size() - ext.size()), ext);
        };
        if (ends(".json")) return Format::Json;
        if (ends(".html") || ends(".htm")) return Format::Html;
        return Format::Csv;
    }
    return env.stdoutIsTerminal ? Format::Table : Format::Csv;
}

// Writes the report into an existing device or FIFO; a write or flush that
// fails (a full device, a reader that left) is an error.
void writeInto(const std::filesystem::path& path, const std::string& shown,
               const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::out);
    if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (out) out.flush();
    if (!out)
        throw Error(errc::kFailed, "The report could not be written to " + shown + ": " +
                                       std::strerror(errno ? errno : EIO));
}

// Where a report written in its rows' turn goes: standard output, a device
// or pipe named by -o, or a new file that takes its name once complete.
struct StreamedOutput {
    StreamedOutput(const std::string& output, const Environment& env, CommandResult& r) {
        if (output.empty()) {
            if (env.writeOut) {
                out = [&env, &r](std::string_view text) {
                    if (env.writeOut(text)) return true;
                    r.writeOutError = errno ? errno : -1;
                    return false;
                };
            } else {
                out = [&r](std::string_view text) {
                    r.out.append(text);
                    return true;
                };
            }
            return;
        }
        const auto wanted = grid::pathFromUtf8(output);
        std::error_code ec;
        const auto kind = std::filesystem::status(wanted, ec).type();
        if (kind == std::filesystem::file_type::character ||
            kind == std::filesystem::file_type::fifo) {
            // A device or a pipe is written into, as a shell's redirection would.
            device.open(wanted, std::ios::binary | std::ios::out);
            out = [this](std::string_view text) {
                if (device) device.write(text.data(), static_cast<std::streamsize>(text.size()));
                return static_cast<bool>(device);
            };
            if (!device) failDevice(output);
            return;
        }
        if (kind == std::filesystem::file_type::block || kind == std::filesystem::file_type::socket)
            throw Error(errc::kFailed, "The report was not written to " + output +
                                           ": it is a block device or a socket, not a file");
        file = std::make_unique<grid::NewFile>(wanted);
        out = [this](std::string_view text) {
            try {
                file->write(text);
                return true;
            } catch (const Error& e) {
                fileError = e;
                file.reset();
                return false;
            }
        };
    }

    [[noreturn]] static void failDevice(const std::string& shown) {
        throw Error(errc::kFailed, "The report could not be written to " + shown + ": " +
                                       std::strerror(errno ? errno : EIO));
    }

    bool write(std::string_view text) { return out(text); }

    // After the last row: the file takes its name, and any failure is told.
    void end(const std::string& shown, CommandResult& r) {
        try {
            if (fileError) throw *fileError;
            if (device.is_open()) {
                if (device) device.flush();
                if (!device) failDevice(shown);
            }
            if (file) {
                const auto wanted = grid::pathFromUtf8(shown);
                const auto written = file->commit();
                if (written != wanted)
                    r.err += kProgram + visibleText(shown) +
                             " exists and was left as it is; the report is in " +
                             visibleText(grid::pathToUtf8(written)) + "\n";
            }
        } catch (const Error& e) {
            r.err += kProgram + visibleText(e.description()) + "\n";
            r.status = kExitSomeFailed;
        }
    }

    std::function<bool(std::string_view)> out;
    std::ofstream device;
    std::unique_ptr<grid::NewFile> file;
    std::optional<Error> fileError;
    std::optional<StreamedReport> report;
};

CommandResult& finish(CommandResult& r, bool interruptedRun, int failed) {
    if (r.status != kExitOk) return r;
    if (interruptedRun)
        r.status = kExitInterrupted;
    else if (failed > 0)
        r.status = kExitSomeFailed;
    return r;
}

}  // namespace

CommandResult runCommand(const std::vector<std::string>& args, const Environment& env,
                         const std::atomic<bool>& interrupted) {
    CommandResult r;
    Options o;
    try {
        o = parseOptions(args, readComputersFile);
    } catch (const UsageError& e) {
        r.status = kExitUsage;
        r.err = std::string(kProgram) + visibleText(e.what()) + "\nTry 'tavo-report --help'.\n";
        return r;
    }
    if (o.help) {
        r.out = usageText();
        return r;
    }
    if (o.version) {
        r.out = std::string("tavo-report ") + TAVO_VERSION + "\n";
        return r;
    }
    if (o.list) {
        for (const std::string_view c : reportCategories()) {
            r.out += c;
            r.out += '\n';
        }
        return r;
    }

    RunRequest request;
    request.report = o.category.empty() ? nullptr : findReport(o.category);
    request.query = o.query;
    request.computers = o.computers;
    request.jobs = o.jobs;
    if (o.timeoutSeconds)
        request.timeout = std::chrono::milliseconds(std::llround(*o.timeoutSeconds * 1000));
    if (env.makeServices) request.services = env.makeServices();
    request.collector = env.collector;
    if (env.stderrIsTerminal && env.progress && o.computers.size() > 1) {
        request.progress = [&env](std::size_t done, std::size_t total) {
            env.progress("\r" + std::to_string(done) + " of " + std::to_string(total) +
                         " computers answered" + (done == total ? "\n" : ""));
        };
    }

    const Format format = formatFor(o, env);
    const bool colour = env.stdoutIsTerminal && !env.noColor && o.output.empty();
    const int maxWidth = env.stdoutIsTerminal && o.output.empty() ? 60 : 0;

    // Several computers with a declared layout: each computer's rows are
    // written in their turn instead of all at the end.
    std::optional<StreamedOutput> streamed;
    if (canStream(o, format)) {
        try {
            streamed.emplace(o.output, env, r);
        } catch (const Error& e) {
            r.err += kProgram + visibleText(e.description()) + "\n";
            r.status = kExitSomeFailed;
            return r;
        }
        // Declared columns are known now; one per property found are taken
        // from the first computers, as many as the run holds at once.
        std::optional<std::vector<std::string>> declared;
        if (request.report && request.report->layout != ColumnLayout::PerProperty) {
            declared.emplace();
            for (const ColumnDefinition& c : request.report->columns)
                declared->emplace_back(c.caption);
        }
        request.buffered = 2 * static_cast<std::size_t>(std::max(1, request.jobs));
        streamed->report.emplace(
            format, std::move(declared), request.buffered, colour, maxWidth,
            [&streamed](std::string_view text) { return streamed->write(text); });
        request.deliver = [&streamed, &interrupted](TargetOutcome& t) {
            // A failure told before Ctrl+C is printed; after it, only what
            // finished, as an interrupted run prints.
            streamed->report->add(t, !interrupted.load());
        };
    }

    RunResult run = runTargets(request, interrupted);
    r.abandonedPasses = run.end != RunEnd::Complete;
    const bool interruptedRun = run.end == RunEnd::Interrupted;

    int failed = 0;
    for (const TargetOutcome& t : run.targets) {
        // A report with holes is still printed, and says where they are.
        if (!t.failure && !t.lostValues.empty())
            r.err += kProgram + t.computer + ": " + t.lostValues + "\n";
        if (!t.failure) continue;
        ++failed;
        if (interruptedRun && t.unfinished) continue;
        // Both may come from another computer: shown with visible escapes.
        r.err += kProgram + visibleText(t.computer) + ": " + visibleText(t.failure->description()) +
                 " (" + t.failure->numberText() + ")\n";
    }
    if (interruptedRun) {
        std::string missing;
        for (const TargetOutcome& t : run.targets)
            if (t.unfinished) missing += (missing.empty() ? "" : ", ") + visibleText(t.computer);
        r.err += std::string(kProgram) + "interrupted" +
                 (missing.empty() ? std::string() : "; no report from " + missing) + "\n";
    }

    if (streamed) {
        streamed->report->finish();
        r.err += streamed->report->notes();
        streamed->end(o.output, r);
        return finish(r, interruptedRun, failed);
    }

    // One computer that answered prints its own grid as it stands; only
    // several (or a failure) need a grid put together from theirs.
    grid::Grid merged;
    const grid::Grid* shown = &merged;
    std::vector<std::string> rowComputers;
    if (run.targets.size() == 1 && !o.computerColumn && !run.targets[0].failure &&
        run.targets[0].grid) {
        shown = run.targets[0].grid.get();
        const auto& order = shown->shownOrder();
        rowComputers.assign(order.size(), run.targets[0].computer);
    } else {
        rowComputers = combine(run.targets, o.computerColumn, !interruptedRun, merged);
    }
    const std::string category = o.category.empty() ? std::string("Query") : o.category;
    std::string label;
    for (const std::string& c : o.computers) label += (label.empty() ? "" : ", ") + c;

    std::string text;
    switch (format) {
        case Format::Csv:
            text = grid::csvText(*shown, grid::CsvCells::raw);
            break;
        case Format::Html:
            text = grid::htmlText(*shown, label, category);
            break;
        case Format::Json:
            text = jsonText(*shown, rowComputers);
            break;
        case Format::Table:
        case Format::Default:
            text = tableText(*shown, colour, maxWidth);
            break;
    }

    if (o.output.empty()) {
        r.out = std::move(text);
    } else {
        try {
            const auto wanted = grid::pathFromUtf8(o.output);
            std::error_code ec;
            const auto kind = std::filesystem::status(wanted, ec).type();
            if (kind == std::filesystem::file_type::character ||
                kind == std::filesystem::file_type::fifo) {
                // A device or a pipe is written into, as a shell's redirection
                // would; the "never over an existing file" rule is for files.
                writeInto(wanted, o.output, text);
                return finish(r, interruptedRun, failed);
            }
            if (kind == std::filesystem::file_type::block ||
                kind == std::filesystem::file_type::socket)
                throw Error(errc::kFailed, "The report was not written to " + o.output +
                                               ": it is a block device or a socket, not a file");
            const auto written = grid::writeNewFile(wanted, text);
            if (written != wanted)
                r.err += kProgram + visibleText(o.output) +
                         " exists and was left as it is; the report is in " +
                         visibleText(grid::pathToUtf8(written)) + "\n";
        } catch (const Error& e) {
            r.err += kProgram + visibleText(e.description()) + "\n";
            r.status = kExitSomeFailed;
            return r;
        }
    }

    return finish(r, interruptedRun, failed);
}

}  // namespace tavo::cli
