#include "cli/report_stream.h"

#include <algorithm>
#include <unordered_map>

#include "grid/export.h"

namespace tavo::cli {

namespace {
// Rows a table holds back to size its columns: enough for the columns of a
// typical run to settle, few enough that the memory held stays small.
constexpr std::size_t kTableLookAhead = 2000;
const std::string kErrorCaption = "Error";
}  // namespace

bool canStream(const Options& o, Format format) {
    if (!o.computerColumn || o.computers.size() < 2) return false;
    return format == Format::Csv || format == Format::Json || format == Format::Table ||
           format == Format::Default;
}

StreamedReport::StreamedReport(Format format, std::optional<std::vector<std::string>> declared,
                               std::size_t lookAhead, bool colour, int maxWidth,
                               std::function<bool(std::string_view)> write)
    : format_(format),
      colour_(colour),
      maxWidth_(maxWidth),
      lookAhead_(std::max<std::size_t>(lookAhead, 1)),
      write_(std::move(write)),
      declared_(std::move(declared)) {
    if (declared_) chooseColumns();
}

void StreamedReport::chooseColumns() {
    // The computer, the report's columns, and the error of a computer that
    // failed: which computers fail is not known when the first rows go
    // out, so the error column is always there.
    if (declared_) {
        captions_ = *declared_;
    } else {
        // In the order first seen; a caption repeated within one report
        // keeps a column of its own.
        std::unordered_map<std::string, std::size_t> seen;
        for (const TargetOutcome& t : held_) {
            if (t.failure || !t.grid) continue;
            std::unordered_map<std::string, std::size_t> used;
            for (int c = 1; c <= t.grid->columnsCount(); ++c) {
                const std::string& caption = t.grid->column(c).Text;
                if (caption == kErrorCaption) continue;
                if (++used[caption] > seen[caption]) {
                    ++seen[caption];
                    captions_.push_back(caption);
                }
            }
        }
    }
    chunk_.columnsAdd("Computer");
    for (const std::string& caption : captions_) chunk_.columnsAdd(caption);
    chunk_.columnsAdd(kErrorCaption, 4000);
    errorColumn_ = chunk_.columnsCount() - 1;
    columnsChosen_ = true;
    if (format_ == Format::Csv) {
        csvHeader_ = grid::csvText(chunk_, grid::CsvCells::raw);
        put(csvHeader_);
    }
}

void StreamedReport::put(std::string_view text) {
    if (failed_ || text.empty()) return;
    if (!write_(text)) failed_ = true;
}

void StreamedReport::add(TargetOutcome& t, bool includeFailed) {
    if (t.failure && !includeFailed) return;
    if (!columnsChosen_) {
        held_.push_back(std::move(t));
        if (held_.size() < lookAhead_) return;
        chooseColumns();
        for (const TargetOutcome& h : held_) write(h);
        held_.clear();
        return;
    }
    write(t);
}

void StreamedReport::write(const TargetOutcome& t) {
    // Each of this report's columns under the output's column of its
    // caption (the k-th of a repeated caption under the k-th); a failed
    // query's own "Error" under the error column.
    std::vector<int> target;
    std::string leftOut;
    if (!t.failure && t.grid) {
        std::unordered_map<std::string, int> used;
        for (int c = 1; c <= t.grid->columnsCount(); ++c) {
            const std::string& caption = t.grid->column(c).Text;
            int k = used[caption]++;
            int to = caption == kErrorCaption ? errorColumn_ : -1;
            for (std::size_t i = 0; to < 0 && i < captions_.size(); ++i)
                if (captions_[i] == caption && k-- == 0) to = static_cast<int>(i) + 1;
            if (to < 0) leftOut += (leftOut.empty() ? "" : ", ") + visibleText(caption);
            target.push_back(to);
        }
    }
    if (!leftOut.empty())
        notes_ += "tavo-report: " + visibleText(t.computer) + ": column(s) " + leftOut +
                  " left out: the output's columns were set by the computers before it\n";
    chunk_.itemsClear();
    std::vector<std::string> computers;
    appendOutcome(t, target, true, errorColumn_, chunk_, computers);
    if (chunk_.itemsCount() == 0) return;
    switch (format_) {
        case Format::Csv: {
            const std::string text = grid::csvText(chunk_, grid::CsvCells::raw);
            put(std::string_view(text).substr(csvHeader_.size()));
            break;
        }
        case Format::Json: {
            // The rows of jsonText's array, between its "[\n" and "\n]\n",
            // so the whole reads as the one array a buffered run writes.
            const std::string text = jsonText(chunk_, computers);
            put(rowsWritten_ == 0 ? "[\n" : ",\n");
            put(std::string_view(text).substr(2, text.size() - 2 - 3));
            break;
        }
        default: {
            TableCells cells = tableCells(chunk_, maxWidth_, rowsWritten_ == 0);
            if (tableWidthsSet_) {
                put(tableLines(cells, tableWidths_, colour_));
            } else {
                tableHeldRows_ += cells.rows.size();
                tableHeld_.push_back(std::move(cells));
                if (tableHeldRows_ >= kTableLookAhead) flushTable();
            }
            break;
        }
    }
    rowsWritten_ += static_cast<std::size_t>(chunk_.itemsCount());
}

void StreamedReport::flushTable() {
    tableWidths_.assign(static_cast<std::size_t>(chunk_.columnsCount()), 0);
    for (const TableCells& cells : tableHeld_) widenColumns(tableWidths_, cells);
    tableWidthsSet_ = true;
    for (const TableCells& cells : tableHeld_) put(tableLines(cells, tableWidths_, colour_));
    tableHeld_.clear();
    tableHeldRows_ = 0;
}

void StreamedReport::finish() {
    if (!columnsChosen_) {
        chooseColumns();
        for (const TargetOutcome& h : held_) write(h);
        held_.clear();
    }
    chunk_.itemsClear();
    switch (format_) {
        case Format::Csv:
            break;
        case Format::Json:
            put(rowsWritten_ == 0 ? "[]\n" : "\n]\n");
            break;
        default:
            // No computer gave a row: the captions alone, as a buffered run prints them.
            if (rowsWritten_ == 0) tableHeld_.push_back(tableCells(chunk_, maxWidth_, true));
            if (!tableWidthsSet_) flushTable();
            break;
    }
}

}  // namespace tavo::cli
