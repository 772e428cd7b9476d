#include "app/results_tools.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSignalBlocker>
#include <QTreeView>
#include <vector>

#include "app/results_model.h"
#include "app/row_filter_model.h"
#include "collectors/report_definition.h"
#include "grid/changes.h"
#include "grid/copy_text.h"

ResultsTools::ResultsTools(QTreeView& view, ResultsModel& model, RowFilterModel& filter,
                           std::function<QString()> category, LayoutStore store, QObject* parent)
    : QObject(parent),
      view_(view),
      model_(model),
      filter_(filter),
      category_(std::move(category)),
      store_(store) {
    QHeaderView* header = view_.header();
    header->setSectionsMovable(true);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QHeaderView::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = makeHeaderMenu(&view_);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(view_.header()->mapToGlobal(at));
    });
    connect(header, &QHeaderView::sectionMoved, this, [this] {
        if (!applying_) userChangedColumns();
    });
    // After bindResultsView's own connection, so a layout the user saved is
    // applied over the report's default widths.
    connect(&model_, &ResultsModel::columnsLaidOut, this, &ResultsTools::columnsLaidOut);

    view_.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = makeRowMenu(at, &view_);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(view_.viewport()->mapToGlobal(at));
    });
    // Only while the grid has the focus: in a text field Ctrl+C copies its text.
    copyAction_ = new QAction(QStringLiteral("Copy"), &view_);
    copyAction_->setObjectName(QStringLiteral("actCopyRows"));
    copyAction_->setShortcut(QKeySequence::Copy);
    copyAction_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    view_.addAction(copyAction_);
    connect(copyAction_, &QAction::triggered, this, &ResultsTools::copyRows);

    showChanges_ = new QAction(QStringLiteral("Show changes"), this);
    showChanges_->setObjectName(QStringLiteral("actShowChanges"));
    showChanges_->setCheckable(true);
    showChanges_->setEnabled(false);  // until a periodic report runs
    showChanges_->setToolTip(
        QStringLiteral("Mark the rows new, changed or gone since the last pass"));
    connect(showChanges_, &QAction::toggled, this, &ResultsTools::setChangesShown);
}

// ---------------------------------------------------------------------------
// What is shown

namespace {
std::vector<int> shownColumns(const QHeaderView& header) {
    std::vector<int> columns;
    for (int v = 0; v < header.count(); ++v) {
        const int logical = header.logicalIndex(v);
        if (!header.isSectionHidden(logical)) columns.push_back(logical);
    }
    return columns;
}
}  // namespace

tavo::grid::ShownView ResultsTools::shownView() const {
    tavo::grid::ShownView shown;
    shown.columns = shownColumns(*view_.header());
    const int rows = filter_.rowCount();
    shown.rows.reserve(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) shown.rows.push_back(filter_.gridRow(r));
    shown.changes = changesShown() && model_.grid().changesMarked();
    return shown;
}

tavo::grid::ShownView ResultsTools::copyView() const {
    const QItemSelectionModel* selection = view_.selectionModel();
    if (!selection || !selection->hasSelection()) return shownView();
    // Ranges, not indexes: a selection of every row of a big report is a
    // handful of ranges but millions of indexes.
    std::vector<bool> selected(static_cast<std::size_t>(filter_.rowCount()), false);
    for (const QItemSelectionRange& range : selection->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r) {
            if (r >= 0 && static_cast<std::size_t>(r) < selected.size())
                selected[static_cast<std::size_t>(r)] = true;
        }
    }
    tavo::grid::ShownView shown;
    shown.columns = shownColumns(*view_.header());
    for (std::size_t r = 0; r < selected.size(); ++r) {
        if (selected[r]) shown.rows.push_back(filter_.gridRow(static_cast<int>(r)));
    }
    shown.changes = changesShown() && model_.grid().changesMarked();
    return shown;
}

void ResultsTools::copyRows() {
    const std::string text = tavo::grid::tabText(model_.grid(), copyView());
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

void ResultsTools::copyCell(const QModelIndex& index) {
    if (!index.isValid()) return;
    QApplication::clipboard()->setText(index.data(Qt::DisplayRole).toString());
}

QMenu* ResultsTools::makeRowMenu(const QPoint& viewportPos, QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("mnuRow"));
    const QModelIndex at = view_.indexAt(viewportPos);
    QAction* copy = menu->addAction(QStringLiteral("Copy"), this, &ResultsTools::copyRows);
    copy->setObjectName(QStringLiteral("mnuCopy"));
    copy->setShortcut(QKeySequence::Copy);
    const QPersistentModelIndex cell(at);
    QAction* copyCellAction =
        menu->addAction(QStringLiteral("Copy cell"), this, [this, cell] { copyCell(cell); });
    copyCellAction->setObjectName(QStringLiteral("mnuCopyCell"));
    copyCellAction->setEnabled(at.isValid());
    copy->setEnabled(filter_.rowCount() > 0);
    menu->addSeparator();
    menu->addAction(showChanges_);
    return menu;
}

// ---------------------------------------------------------------------------
// Columns

QMenu* ResultsTools::makeHeaderMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("mnuColumns"));
    const QHeaderView& header = *view_.header();
    int shown = 0;
    for (int i = 0; i < header.count(); ++i) shown += header.isSectionHidden(i) ? 0 : 1;
    for (int v = 0; v < header.count(); ++v) {
        const int logical = header.logicalIndex(v);
        QString caption = model_.headerData(logical, Qt::Horizontal).toString();
        if (caption.isEmpty()) caption = QStringLiteral("(column %1)").arg(logical + 1);
        QAction* a = menu->addAction(caption);
        a->setCheckable(true);
        a->setChecked(!header.isSectionHidden(logical));
        // The last column shown stays: an empty grid has no header to bring it back.
        a->setEnabled(!(a->isChecked() && shown == 1));
        connect(a, &QAction::toggled, this,
                [this, logical](bool on) { setColumnShown(logical, on); });
    }
    if (header.count() > 0) menu->addSeparator();
    QAction* reset =
        menu->addAction(QStringLiteral("Reset columns"), this, &ResultsTools::resetColumns);
    reset->setObjectName(QStringLiteral("mnuResetColumns"));
    return menu;
}

void ResultsTools::setColumnShown(int column, bool shown) {
    QHeaderView& header = *view_.header();
    if (column < 0 || column >= header.count() || header.isSectionHidden(column) == !shown) return;
    if (!shown && header.count() - header.hiddenSectionCount() <= 1) return;
    header.setSectionHidden(column, !shown);
    // A column shown again after its layout was applied may have no width.
    if (shown && header.sectionSize(column) == 0)
        header.resizeSection(column, model_.columnWidthPixels(column));
    userChangedColumns();
}

void ResultsTools::resetColumns() {
    applying_ = true;
    resetLayout(*view_.header());
    for (int c = 0; c < model_.columnCount(); ++c)
        view_.setColumnWidth(c, model_.columnWidthPixels(c));
    applying_ = false;
    syncHiddenColumns();
    if (!layoutCategory_.isEmpty()) store_.forgetColumns(layoutCategory_);
}

void ResultsTools::columnsLaidOut() {
    if (category_) layoutCategory_ = category_();
    applying_ = true;
    QHeaderView& header = *view_.header();
    // New columns: whatever the header kept from the last report goes.
    resetLayout(header);
    if (const auto saved = store_.columns(layoutCategory_)) applyLayout(header, *saved);
    applying_ = false;
    syncHiddenColumns();
}

void ResultsTools::userChangedColumns() {
    syncHiddenColumns();
    if (layoutCategory_.isEmpty()) return;
    const QHeaderView& header = *view_.header();
    if (isPlainLayout(header))
        store_.forgetColumns(layoutCategory_);
    else
        store_.setColumns(layoutCategory_, captureLayout(header));
}

void ResultsTools::syncHiddenColumns() {
    const QHeaderView& header = *view_.header();
    std::vector<std::uint8_t> hidden(static_cast<std::size_t>(header.count()), 0);
    for (int i = 0; i < header.count(); ++i)
        hidden[static_cast<std::size_t>(i)] = header.isSectionHidden(i) ? 1 : 0;
    filter_.setHiddenColumns(std::move(hidden));
}

// ---------------------------------------------------------------------------
// Changes since the last pass

void ResultsTools::newCycle() {
    changesCategory_ = category_ ? category_() : QString();
    const tavo::ReportDefinition* report = tavo::findReport(changesCategory_.toStdString());
    rowKey_ = report ? tavo::rowKeyCaptions(*report) : std::vector<std::string>();
    comparable_ = false;
    const bool periodic = report && !report->onePass;
    const bool shown = periodic && store_.changesShown(changesCategory_).value_or(true);
    {
        const QSignalBlocker quiet(showChanges_);
        showChanges_->setEnabled(periodic);
        showChanges_->setChecked(shown);
    }
    applyChangesShown(shown);
}

void ResultsTools::takePass(tavo::grid::Grid& shown, tavo::grid::Grid& next, bool whole,
                            const tavo::grid::PassChanges* compared) {
    if (compares(whole)) {
        // Gone rows are only worth their place while they are seen going.
        if (compared)
            tavo::grid::applyChanges(shown, next, *compared, rowKey_, changesShown());
        else
            tavo::grid::markChanges(shown, next, rowKey_, changesShown());
    }
    shown.takeContents(next);
    if (whole) comparable_ = true;
}

bool ResultsTools::changesShown() const {
    return showChanges_->isChecked();
}

void ResultsTools::setChangesShown(bool shown) {
    if (showChanges_->isChecked() != shown) {
        showChanges_->setChecked(shown);  // comes back here through toggled
        return;
    }
    applyChangesShown(shown);
    if (!changesCategory_.isEmpty()) store_.setChangesShown(changesCategory_, shown);
}

void ResultsTools::applyChangesShown(bool shown) {
    model_.setMarksShown(shown);
    filter_.setMarksShown(shown);
}
