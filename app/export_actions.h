#pragma once

#include <QString>

#include "app/dialogs.h"
#include "grid/grid.h"
#include "grid/shown_view.h"

class QWidget;

enum class ExportFormat { Csv, Html };

// The whole export: the text is taken from the grid before any dialog opens
// (a refresh behind a dialog cannot change it), then the folder choice, the
// confirmation, the write into a new file and the opening of that file.
// Cancel and No end with "Cancelled"; a failed write says which file and why
// and opens nothing.
void exportResults(QWidget* owner, Dialogs& dialogs, const tavo::grid::Grid& grid,
                   const QString& computer, const QString& category, ExportFormat format);
// The same for the part of the grid the window shows: the rows the filter
// left and the columns not hidden, in their shown order. The confirmation
// says how many rows will be written.
void exportResults(QWidget* owner, Dialogs& dialogs, const tavo::grid::Grid& grid,
                   const tavo::grid::ShownView& shown, const QString& computer,
                   const QString& category, ExportFormat format);

// The confirmation's line on the number of rows: "12 of 300 rows will be
// written (those shown)."
QString exportRowsText(std::size_t rows, std::size_t total);
