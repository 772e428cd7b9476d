#include "app/results_model.h"

#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QRadialGradient>
#include <QTextDocument>
#include <QTreeView>
#include <optional>

#include "grid/changes.h"

using tavo::grid::Grid;
using tavo::grid::ListItem;

QString plainToolTip(const QString& text) {
    // A tool tip that looks like markup is shown as markup. Ours come from
    // the computer asked (a fault's text, a process's name): said as it is.
    if (!Qt::mightBeRichText(text)) return text;
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

namespace {

constexpr int kTwipsPerPixel = 15;

QPixmap drawLamp(int level, int size) {
    static const QColor kFill[3] = {QColor(0x22, 0xB1, 0x4C), QColor(0xFF, 0xD2, 0x00),
                                    QColor(0xE0, 0x20, 0x20)};
    const QColor base = kFill[level - 1];
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal rim = size / 16.0;
    const QRectF r(rim, rim, size - 2 * rim, size - 2 * rim);
    // A lit glass lamp: bright spot upper left, the colour towards the rim.
    QRadialGradient g(r.left() + r.width() * 0.35, r.top() + r.height() * 0.35, r.width() * 0.65);
    g.setColorAt(0.0, base.lighter(170));
    g.setColorAt(0.6, base);
    g.setColorAt(1.0, base.darker(130));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x1F, 0x4E, 0xB4), rim * 1.2));
    p.drawEllipse(r.adjusted(rim * 0.2, rim * 0.2, -rim * 0.2, -rim * 0.2));
    p.end();
    return pm;
}

// The marks: a badge in the lamp's lower right corner, and tints.
enum class Badge { New, Changed, Gone };
const QColor kNewRowTint(0xDC, 0xEB, 0xFF);
const QColor kChangedCellTint(0xFF, 0xE8, 0xA8);
const QColor kGoneText(0x8A, 0x8A, 0x8A);
// Rows of a computer that has not answered in time: dimmed, but apart from gone rows.
const QColor kOldText(0x7A, 0x64, 0x3C);

QPixmap drawMarkedLamp(int level, Badge badge, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    if (level >= 1 && level <= 3) {
        // A gone row's lamp is faded with the rest of the row.
        QPainter faded(&pm);
        faded.setOpacity(badge == Badge::Gone ? 0.4 : 1.0);
        faded.drawPixmap(0, 0, drawLamp(level, size));
    }
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal d = size * 0.62;
    const QRectF r(size - d, size - d, d, d);
    const QColor fill = badge == Badge::New       ? QColor(0x1F, 0x6F, 0xD0)
                        : badge == Badge::Changed ? QColor(0xE0, 0x8A, 0x00)
                                                  : QColor(0x70, 0x70, 0x70);
    p.setPen(QPen(Qt::white, size / 16.0));
    p.setBrush(fill);
    p.drawEllipse(r);
    // A plus for new, a dot for changed, a minus for gone: told apart
    // without their colours too.
    QPen glyph(Qt::white, size / 9.0, Qt::SolidLine, Qt::RoundCap);
    p.setPen(glyph);
    const QPointF c = r.center();
    const qreal arm = d * 0.27;
    if (badge == Badge::Changed) {
        p.setBrush(Qt::white);
        p.drawEllipse(c, arm * 0.6, arm * 0.6);
    } else {
        p.drawLine(QPointF(c.x() - arm, c.y()), QPointF(c.x() + arm, c.y()));
        if (badge == Badge::New)
            p.drawLine(QPointF(c.x(), c.y() - arm), QPointF(c.x(), c.y() + arm));
    }
    p.end();
    return pm;
}

std::optional<Badge> badgeOf(std::uint8_t marks) {
    using namespace tavo::grid;
    if (marks & kRowGone) return Badge::Gone;
    if (marks & kRowNew) return Badge::New;
    if (marks & kRowChanged) return Badge::Changed;
    return std::nullopt;
}

}  // namespace

QIcon ResultsModel::lampIcon(int level) {
    if (level < 1 || level > 3) return QIcon();
    QIcon icon;
    for (int size : {16, 32}) {
        const QPixmap pm = drawLamp(level, size);
        icon.addPixmap(pm, QIcon::Normal);
        icon.addPixmap(pm, QIcon::Selected);
    }
    return icon;
}

ResultsModel::ResultsModel(Grid& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {
    for (int level = 1; level <= 3; ++level) lamps_[level - 1] = lampIcon(level);
    for (int level = 0; level <= 3; ++level) {
        for (Badge b : {Badge::New, Badge::Changed, Badge::Gone}) {
            QIcon icon;
            for (int size : {16, 32}) {
                const QPixmap pm = drawMarkedLamp(level, b, size);
                icon.addPixmap(pm, QIcon::Normal);
                icon.addPixmap(pm, QIcon::Selected);
            }
            markedLamps_[static_cast<std::size_t>(level)][static_cast<std::size_t>(b)] = icon;
        }
    }
    for (int i = 1; i <= grid_.columnsCount(); ++i) {
        columns_.push_back({QString::fromStdString(grid_.column(i).Text), grid_.column(i).Width});
    }
    shown_ = grid_.shownOrder();
    grid_.setObserver(this);
}

ResultsModel::~ResultsModel() {
    grid_.setObserver(nullptr);
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

const ListItem* ResultsModel::rowAt(int modelRow) const {
    if (modelRow < 0 || static_cast<std::size_t>(modelRow) >= shown_.size()) return nullptr;
    const std::size_t row = shown_[static_cast<std::size_t>(modelRow)];
    // Inside an update batch the grid may already hold fewer rows than we
    // last showed; a paint in that moment must not read past them.
    if (row >= static_cast<std::size_t>(grid_.itemsCount())) return nullptr;
    return &grid_.item(static_cast<int>(row) + 1);
}

std::size_t ResultsModel::gridRow(int modelRow) const {
    return shown_.at(static_cast<std::size_t>(modelRow));
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= static_cast<int>(columns_.size())) return {};
    const ListItem* item = rowAt(index.row());
    if (!item) return {};
    const std::size_t row = shown_[static_cast<std::size_t>(index.row())];
    const std::uint8_t marks = marksShown_ ? grid_.rowMarks(row) : std::uint8_t{0};
    // Rows kept from an earlier pass are not a change but stale: they are
    // told apart whether or not changes are shown.
    const bool old = (grid_.rowMarks(row) & tavo::grid::kRowOld) != 0;
    switch (role) {
        case Qt::DisplayRole: {
            const std::string_view text = item->cell(index.column());
            return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        }
        case Qt::DecorationRole: {
            if (index.column() != 0) return {};
            const int icon = item->SmallIcon();
            if (const auto badge = badgeOf(marks)) {
                const int level = icon >= 1 && icon <= 3 ? icon : 0;
                return markedLamps_[static_cast<std::size_t>(level)]
                                   [static_cast<std::size_t>(*badge)];
            }
            if (icon >= 1 && icon <= 3) return lamps_[icon - 1];
            return {};
        }
        case Qt::BackgroundRole:
            if (marks & tavo::grid::kRowNew) return kNewRowTint;
            if ((marks & tavo::grid::kRowChanged) && grid_.cellChanged(row, index.column()))
                return kChangedCellTint;
            return {};
        case Qt::ForegroundRole:
            if (marks & tavo::grid::kRowGone) return kGoneText;
            if (old) return kOldText;
            return {};

        case Qt::ToolTipRole: {
            QString mark;
            if (old)
                mark = QStringLiteral(
                    "Old: this computer has not answered in time; these rows are from an earlier "
                    "pass");
            else if (marks & tavo::grid::kRowGone)
                mark = QStringLiteral("Gone since the last pass");
            else if (marks & tavo::grid::kRowNew)
                mark = QStringLiteral("New since the last pass");
            else if ((marks & tavo::grid::kRowChanged) && grid_.cellChanged(row, index.column()))
                mark = QStringLiteral("Changed since the last pass");
            const std::string_view tip = item->ToolTipText();
            if (tip.empty()) return mark.isEmpty() ? QVariant() : QVariant(mark);
            QString text = QString::fromUtf8(tip.data(), static_cast<qsizetype>(tip.size()));
            if (!mark.isEmpty()) text = mark + QLatin1Char('\n') + text;
            return plainToolTip(text);
        }
        default:
            return {};
    }
}

void ResultsModel::setMarksShown(bool shown) {
    if (shown == marksShown_) return;
    marksShown_ = shown;
    if (!shown_.empty() && !columns_.empty())
        emit dataChanged(
            index(0, 0), index(rowCount() - 1, columnCount() - 1),
            {Qt::DecorationRole, Qt::BackgroundRole, Qt::ForegroundRole, Qt::ToolTipRole});
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(columns_.size())) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) return columns_[static_cast<std::size_t>(section)].caption;
    return {};
}

int ResultsModel::columnWidthPixels(int section) const {
    if (section < 0 || section >= static_cast<int>(columns_.size())) return 0;
    const int twips = columns_[static_cast<std::size_t>(section)].widthTwips;
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

void ResultsModel::resetFromGrid() {
    std::vector<Column> columns;
    columns.reserve(static_cast<std::size_t>(grid_.columnsCount()));
    for (int i = 1; i <= grid_.columnsCount(); ++i) {
        columns.push_back({QString::fromStdString(grid_.column(i).Text), grid_.column(i).Width});
    }
    const bool relaid = columns != columns_;
    beginResetModel();
    columns_ = std::move(columns);
    shown_ = grid_.shownOrder();
    endResetModel();
    if (relaid) emit columnsLaidOut();
}

void ResultsModel::gridReset() {
    resetFromGrid();
}
void ResultsModel::columnsChanged() {
    resetFromGrid();
}
void ResultsModel::rowsCleared() {
    resetFromGrid();
}

void ResultsModel::rowAppended(std::size_t row) {
    if (shown_.size() + 1 != static_cast<std::size_t>(grid_.itemsCount())) {
        resetFromGrid();  // we missed something; start over rather than guess
        return;
    }
    const int at = static_cast<int>(grid_.rowToShown(row));
    beginInsertRows(QModelIndex(), at, at);
    shown_.insert(shown_.begin() + at, row);
    endInsertRows();
}

void ResultsModel::rowChanged(std::size_t row) {
    if (row >= static_cast<std::size_t>(grid_.itemsCount()) || columns_.empty()) return;
    const int at = static_cast<int>(grid_.rowToShown(row));
    if (at >= rowCount()) return;
    emit dataChanged(index(at, 0), index(at, columnCount() - 1));
}

void ResultsModel::orderChanged() {
    if (shown_.size() != static_cast<std::size_t>(grid_.itemsCount())) {
        resetFromGrid();
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& idx : from) {
        const std::size_t row = shown_[static_cast<std::size_t>(idx.row())];
        to.append(index(static_cast<int>(grid_.rowToShown(row)), idx.column()));
    }
    shown_ = grid_.shownOrder();
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void bindResultsView(QTreeView& view, ResultsModel& model, QAbstractItemModel* shown) {
    view.setModel(shown ? shown : &model);
    view.setRootIsDecorated(false);
    view.setItemsExpandable(false);
    view.setUniformRowHeights(true);
    view.setAllColumnsShowFocus(true);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSortingEnabled(false);
    view.setIconSize(QSize(16, 16));
    view.header()->setSectionsClickable(true);
    view.header()->setStretchLastSection(false);
    QTreeView* v = &view;
    ResultsModel* m = &model;
    const auto applyWidths = [v, m] {
        for (int c = 0; c < m->columnCount(); ++c) v->setColumnWidth(c, m->columnWidthPixels(c));
    };
    applyWidths();
    QObject::connect(&model, &ResultsModel::columnsLaidOut, &view, applyWidths);
}
