#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

class QHeaderView;
class QSettings;

// A report's columns as the user arranged them: the captions in the order
// shown, and the captions hidden. Captions name the columns, so a layout
// still fits when a report gains or loses a column; a caption used twice is
// matched in the order the columns come.
struct ColumnArrangement {
    QStringList order;
    QStringList hidden;
    bool operator==(const ColumnArrangement&) const = default;
};

// The header's present arrangement.
ColumnArrangement captureLayout(const QHeaderView& header);
// True when every column is shown in its own place: nothing to remember.
bool isPlainLayout(const QHeaderView& header);
// Moves and hides the header's sections as `layout` says. Columns the layout
// does not know keep their order after the known ones, but those before
// every known column stay first; at least one column always stays shown.
void applyLayout(QHeaderView& header, const ColumnArrangement& layout);
// Every column shown, in its own place.
void resetLayout(QHeaderView& header);

// Column layouts per report category and the window's placement, kept in
// the user's settings file. Without a settings object nothing is kept.
class LayoutStore {
  public:
    explicit LayoutStore(QSettings* settings) : settings_(settings) {}

    std::optional<ColumnArrangement> columns(const QString& category) const;
    void setColumns(const QString& category, const ColumnArrangement& layout);
    void forgetColumns(const QString& category);

    // Whether a category's changes since the last pass are shown; none
    // when the user never said.
    std::optional<bool> changesShown(const QString& category) const;
    void setChangesShown(const QString& category, bool shown);

    std::optional<QByteArray> windowGeometry() const;
    void setWindowGeometry(const QByteArray& geometry);

  private:
    QSettings* settings_;
};
