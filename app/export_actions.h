#pragma once

#include <QString>

#include "app/dialogs.h"
#include "grid/grid.h"

class QWidget;

enum class ExportFormat { Csv, Html };

// The whole export: the text is taken from the grid before any dialog opens
// (a refresh behind a dialog cannot change it), then the folder choice, the
// confirmation, the write into a new file and the opening of that file.
// Cancel and No end with "Cancelled"; a failed write says which file and why
// and opens nothing.
void exportResults(QWidget* owner, Dialogs& dialogs, const tavo::grid::Grid& grid,
                   const QString& computer, const QString& category, ExportFormat format);
