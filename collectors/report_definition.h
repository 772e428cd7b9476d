#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "collectors/management.h"
#include "grid/grid.h"

// What a report category is, declared once: the text the user picks, the
// collector that fills it, the class it asks for, whether it runs once or
// every interval, how its lamps are chosen and which columns it shows. The
// window, the command-line reporter, the dispatch and the monitors all read
// these declarations, so a category cannot look one way in one place and
// another way elsewhere.
namespace tavo {

enum class CollectorKind { DriveMon, NetMon, PrintMon, GetResults, ListComputers };

// Who lays the columns out.
enum class ColumnLayout {
    AtRun,        // the window at RUN; the collector writes under them every pass
    EachPass,     // the collector adds the declared columns in its pass
    PerProperty,  // the declared lamp column, then one column per property found
};

// A cell's text, computed from the whole object (sizes in GB, status words).
// May throw: the cell then stays empty and the row goes on.
using CellFormatter = std::string (*)(const wmi::Object&);

// A row's lamp level (1 green, 2 yellow, 3 red) from its object. The rules
// trap their own failed reads.
using LampRule = int (*)(const wmi::Object&);

struct ColumnDefinition {
    std::string_view caption;
    int width = 0;                   // twips; 0 for the grid's default width
    std::string_view property = {};  // the property shown as text ...
    int entry = -1;                  // ... or this entry of it (an array), counted from 0
    CellFormatter format = nullptr;  // ... or this, when the text is computed
};

struct ReportDefinition {
    std::string_view category;         // exact text of cmbFunction
    CollectorKind collector;           //
    std::string_view managementClass;  // the class asked for; empty when none
    std::string_view query;            // a monitor's fixed query; empty for the generic report
    bool onePass;                      // the pass ends the cycle
    int intervalSeconds;               // between passes of a periodic report
    bool intervalShown;                // the interval field is shown at RUN
    LampRule lamp;                     // nullptr: every row is green
    ColumnLayout layout;
    // AtRun/EachPass: every column, the first holding the row's key and text.
    // PerProperty: the lamp column only.
    std::span<const ColumnDefinition> columns;
    int propertyWidth = 0;  // PerProperty: the width of each property column (twips)
    // The captions of the columns that tell one row from another from pass
    // to pass (the class's key properties); empty: the first declared
    // column with a caption.
    std::span<const std::string_view> rowKey = {};
};

// Every category in the order the dispatch tests them.
std::span<const ReportDefinition> reportDefinitions();

// The definition whose category equals `category` exactly (case-sensitive),
// or nullptr: such a text collects nothing.
const ReportDefinition* findReport(std::string_view category);

// The categories in the order the category list shows them (alphabetical,
// ignoring case).
std::span<const std::string_view> reportCategories();

// The query a pass runs for a definition of a management collector.
std::string queryFor(const ReportDefinition& report);

// What RUN applies before the first pass: the interval, whether the
// interval field shows, and the columns laid out at once (none for reports
// whose collector lays out its own, and for a text that is no category).
struct RunLayout {
    int intervalSeconds = 60;
    bool intervalShown = true;
    std::span<const ColumnDefinition> columns;
};
RunLayout runLayout(std::string_view category);

// The captions of the columns whose texts identify a row of `report`
// across passes, so a new pass can be compared with the one before it.
std::vector<std::string> rowKeyCaptions(const ReportDefinition& report);

// Adds `columns` to `grid` with their captions and widths.
void addColumns(grid::Grid& grid, std::span<const ColumnDefinition> columns);

// The text of `column` for `object`: the formatter's, or the property (or
// its entry) converted to text. Throws when the value cannot be read or
// converted.
std::string cellText(const ColumnDefinition& column, const wmi::Object& object);

// The lamp of the generic report for `wmiclass`: the services' own rule for
// their class, the instance's Status for every other.
LampRule lampForClass(std::string_view wmiclass);

}  // namespace tavo
