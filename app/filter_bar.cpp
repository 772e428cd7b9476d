#include "app/filter_bar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "app/results_model.h"

FilterBar::FilterBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("filterBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    txtFilter_ = new QLineEdit(this);
    txtFilter_->setObjectName(QStringLiteral("txtFilter"));
    txtFilter_->setPlaceholderText(QStringLiteral("Filter (Ctrl+F)"));
    txtFilter_->setToolTip(QStringLiteral("Show only the rows holding this text"));
    txtFilter_->setClearButtonEnabled(true);
    txtFilter_->installEventFilter(this);
    layout->addWidget(txtFilter_, 1);

    cmbLamps_ = new QComboBox(this);
    cmbLamps_->setObjectName(QStringLiteral("cmbLamps"));
    cmbLamps_->setToolTip(
        QStringLiteral("Show only the rows with these lamps, or those that changed"));
    cmbLamps_->addItem(QStringLiteral("All lamps"), int(LampChoice::All));
    cmbLamps_->addItem(ResultsModel::lampIcon(2), QStringLiteral("Yellow and red"),
                       int(LampChoice::YellowAndRed));
    cmbLamps_->addItem(ResultsModel::lampIcon(3), QStringLiteral("Red only"),
                       int(LampChoice::RedOnly));
    cmbLamps_->addItem(QStringLiteral("Changed only"), int(LampChoice::ChangedOnly));
    cmbLamps_->setItemData(cmbLamps_->count() - 1,
                           QStringLiteral("Rows new, changed or gone since the last pass"),
                           Qt::ToolTipRole);
    layout->addWidget(cmbLamps_);

    lblRows_ = new QLabel(this);
    lblRows_->setObjectName(QStringLiteral("lblRows"));
    lblRows_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Wide enough for the largest count, so the field does not jump as it changes.
    lblRows_->setMinimumWidth(
        lblRows_->fontMetrics().horizontalAdvance(countsText(888888, 888888)));
    layout->addWidget(lblRows_);
    setCounts(0, 0);

    connect(txtFilter_, &QLineEdit::textChanged, this, &FilterBar::filterTextChanged);
    connect(cmbLamps_, &QComboBox::currentIndexChanged, this,
            [this] { emit lampChoiceChanged(lampChoice()); });
}

LampChoice FilterBar::lampChoice() const {
    return static_cast<LampChoice>(cmbLamps_->currentData().toInt());
}

void FilterBar::focusFilter() {
    txtFilter_->setFocus(Qt::ShortcutFocusReason);
    txtFilter_->selectAll();
}

int FilterBar::preferredWidth() const {
    return txtFilter_->sizeHint().width() + cmbLamps_->sizeHint().width() +
           lblRows_->minimumWidth() + 2 * layout()->spacing();
}

void FilterBar::place(const QRect& area) {
    const int needed = txtFilter_->minimumSizeHint().width() + cmbLamps_->sizeHint().width() +
                       lblRows_->minimumWidth() + 2 * layout()->spacing();
    lblRows_->setVisible(area.width() >= needed);
    setGeometry(area);
}

QString FilterBar::countsText(int shown, int total) {
    return QStringLiteral("%1 of %2 rows").arg(shown).arg(total);
}

void FilterBar::setCounts(int shown, int total) {
    lblRows_->setText(countsText(shown, total));
}

bool FilterBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtFilter_ && event->type() == QEvent::FocusIn) emit filterFocusChanged(true);
    if (watched == txtFilter_ && event->type() == QEvent::FocusOut) emit filterFocusChanged(false);
    if (watched == txtFilter_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !txtFilter_->text().isEmpty()) {
        txtFilter_->clear();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
