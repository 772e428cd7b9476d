#include "app/column_layout.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <vector>

namespace {

QString captionOf(const QHeaderView& header, int logical) {
    return header.model() ? header.model()->headerData(logical, Qt::Horizontal).toString()
                          : QString();
}

// The first column not yet taken whose caption is `caption`, or -1.
int takeColumn(const QHeaderView& header, const QString& caption, std::vector<bool>& taken) {
    for (int i = 0; i < header.count(); ++i) {
        if (!taken[static_cast<std::size_t>(i)] && captionOf(header, i) == caption) {
            taken[static_cast<std::size_t>(i)] = true;
            return i;
        }
    }
    return -1;
}

QString columnsKey(const QString& category) {
    return QStringLiteral("columns/") + category;
}

const QString kGeometryKey = QStringLiteral("window/geometry");

}  // namespace

ColumnArrangement captureLayout(const QHeaderView& header) {
    ColumnArrangement layout;
    for (int v = 0; v < header.count(); ++v)
        layout.order << captionOf(header, header.logicalIndex(v));
    for (int i = 0; i < header.count(); ++i) {
        if (header.isSectionHidden(i)) layout.hidden << captionOf(header, i);
    }
    return layout;
}

bool isPlainLayout(const QHeaderView& header) {
    for (int i = 0; i < header.count(); ++i) {
        if (header.isSectionHidden(i) || header.visualIndex(i) != i) return false;
    }
    return true;
}

void applyLayout(QHeaderView& header, const ColumnArrangement& layout) {
    const int n = header.count();
    if (n == 0) return;
    std::vector<bool> placed(static_cast<std::size_t>(n), false);
    std::vector<int> order;
    order.reserve(static_cast<std::size_t>(n));
    for (const QString& caption : layout.order) {
        const int i = takeColumn(header, caption, placed);
        if (i >= 0) order.push_back(i);
    }
    // Columns the layout does not know come after the known ones, except
    // those before every known column (the Computer column of several
    // computers), which stay first.
    std::vector<int> leading;
    for (int i = 0; i < n && !placed[static_cast<std::size_t>(i)]; ++i) leading.push_back(i);
    order.insert(order.begin(), leading.begin(), leading.end());
    for (int i = static_cast<int>(leading.size()); i < n; ++i) {
        if (!placed[static_cast<std::size_t>(i)]) order.push_back(i);
    }
    for (int v = 0; v < n; ++v) {
        const int from = header.visualIndex(order[static_cast<std::size_t>(v)]);
        if (from != v) header.moveSection(from, v);
    }

    std::vector<bool> hide(static_cast<std::size_t>(n), false);
    for (const QString& caption : layout.hidden) takeColumn(header, caption, hide);
    int shown = 0;
    for (int i = 0; i < n; ++i) shown += hide[static_cast<std::size_t>(i)] ? 0 : 1;
    // A layout that hides everything would leave an empty grid and no header
    // to right-click for the columns; show them all instead.
    if (shown == 0) hide.assign(static_cast<std::size_t>(n), false);
    for (int i = 0; i < n; ++i) {
        if (header.isSectionHidden(i) != hide[static_cast<std::size_t>(i)])
            header.setSectionHidden(i, hide[static_cast<std::size_t>(i)]);
    }
}

void resetLayout(QHeaderView& header) {
    for (int i = 0; i < header.count(); ++i) {
        if (header.isSectionHidden(i)) header.setSectionHidden(i, false);
        const int from = header.visualIndex(i);
        if (from != i) header.moveSection(from, i);
    }
}

// ---------------------------------------------------------------------------

std::optional<ColumnArrangement> LayoutStore::columns(const QString& category) const {
    if (!settings_) return std::nullopt;
    const QByteArray text = settings_->value(columnsKey(category)).toString().toUtf8();
    if (text.isEmpty()) return std::nullopt;
    const QJsonObject o = QJsonDocument::fromJson(text).object();
    if (o.isEmpty()) return std::nullopt;  // unreadable: as if nothing was saved
    ColumnArrangement layout;
    for (const QJsonValue& v : o.value(QStringLiteral("order")).toArray())
        layout.order << v.toString();
    for (const QJsonValue& v : o.value(QStringLiteral("hidden")).toArray())
        layout.hidden << v.toString();
    return layout;
}

void LayoutStore::setColumns(const QString& category, const ColumnArrangement& layout) {
    if (!settings_) return;
    // One JSON text per category: captions may hold commas, quotes or
    // nothing at all, which a settings list does not keep reliably.
    QJsonObject o;
    o.insert(QStringLiteral("order"), QJsonArray::fromStringList(layout.order));
    o.insert(QStringLiteral("hidden"), QJsonArray::fromStringList(layout.hidden));
    settings_->setValue(columnsKey(category),
                        QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
}

void LayoutStore::forgetColumns(const QString& category) {
    if (settings_) settings_->remove(columnsKey(category));
}

std::optional<bool> LayoutStore::changesShown(const QString& category) const {
    if (!settings_) return std::nullopt;
    const QVariant v = settings_->value(QStringLiteral("changes/") + category);
    if (!v.isValid()) return std::nullopt;
    const QString text = v.toString();
    // Anything but the two words we write reads as never said.
    if (text == QLatin1String("true")) return true;
    if (text == QLatin1String("false")) return false;
    return std::nullopt;
}

void LayoutStore::setChangesShown(const QString& category, bool shown) {
    if (settings_)
        settings_->setValue(QStringLiteral("changes/") + category,
                            shown ? QStringLiteral("true") : QStringLiteral("false"));
}

std::optional<QByteArray> LayoutStore::windowGeometry() const {
    if (!settings_) return std::nullopt;
    const QByteArray g = settings_->value(kGeometryKey).toByteArray();
    if (g.isEmpty()) return std::nullopt;
    return g;
}

void LayoutStore::setWindowGeometry(const QByteArray& geometry) {
    if (settings_) settings_->setValue(kGeometryKey, geometry);
}
