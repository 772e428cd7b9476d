#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "cli/report_output.h"
#include "cli/run_targets.h"
#include "grid/grid.h"

// The rows of many computers written as each computer's turn comes, so the
// output never waits for the whole run and memory holds a bounded number of
// computers' rows, however many are asked.
namespace tavo::cli {

// True when a run is written this way: several computers, in CSV, JSON or
// table form.
bool canStream(const Options& o, Format format);

class StreamedReport {
  public:
    // `declared`: the report's columns where they are known before it runs;
    // otherwise (one column per property found) the columns are those of
    // the first `lookAhead` computers, whose rows are held until then.
    // `write` takes each piece of text; false when it could not (nothing
    // more is written then).
    StreamedReport(Format format, std::optional<std::vector<std::string>> declared,
                   std::size_t lookAhead, bool colour, int maxWidth,
                   std::function<bool(std::string_view)> write);

    // One computer's rows, in their turn (its grid may be taken); a failure
    // as one red row unless `includeFailed` is false.
    void add(TargetOutcome& t, bool includeFailed);
    // The end of the text (JSON's closing bracket, a short table's lines).
    void finish();
    // Lines for standard error: columns a computer had that the output
    // does not (met after the columns were chosen).
    const std::string& notes() const { return notes_; }

  private:
    void chooseColumns();
    void write(const TargetOutcome& t);
    void put(std::string_view text);
    void flushTable();

    Format format_;
    bool colour_;
    int maxWidth_;
    std::size_t lookAhead_;
    std::function<bool(std::string_view)> write_;
    bool failed_ = false;
    std::optional<std::vector<std::string>> declared_;
    std::vector<TargetOutcome> held_;  // before the columns are chosen
    bool columnsChosen_ = false;
    grid::Grid chunk_;                   // one computer's rows under the output's columns
    std::vector<std::string> captions_;  // of chunk_'s columns 1 .. n-2
    int errorColumn_ = 0;
    std::size_t rowsWritten_ = 0;
    std::string csvHeader_;
    std::string notes_;
    // The table's widths come from its first rows (up to a bound), held
    // until then; later rows are laid out at those widths.
    std::vector<TableCells> tableHeld_;
    std::size_t tableHeldRows_ = 0;
    std::vector<std::size_t> tableWidths_;
    bool tableWidthsSet_ = false;
};

}  // namespace tavo::cli
