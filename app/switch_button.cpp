#include "app/switch_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

SwitchButton::SwitchButton(const QString& text, QWidget* parent, const QColor& off,
                           const QColor& on)
    : QPushButton(text, parent) {
    offPalette_ = palette();
    offPalette_.setColor(QPalette::Button, off);
    onPalette_ = offPalette_;
    onPalette_.setColor(QPalette::Button, on);
    // The widget's own palette says the same, for anything that reads it.
    setPalette(offPalette_);
}

void SwitchButton::setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    update();
}

void SwitchButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.palette = shownPalette();
    painter.drawControl(QStyle::CE_PushButton, option);
}
