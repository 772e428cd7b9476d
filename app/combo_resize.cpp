#include "app/combo_resize.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QScreen>
#include <QWidget>
#include <cmath>
#include <cstdint>

DropDownCombo::DropDownCombo(QWidget* parent) : QComboBox(parent) {
    // An editable box shows its text scrolled to the cursor, which a new
    // entry puts at the end: a text wider than the box lost its first
    // letters ("etwork Computers"). A choice is shown from its start; what
    // does not fit is cut at the right.
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        if (QLineEdit* edit = lineEdit()) edit->setCursorPosition(0);
    });
}

void DropDownCombo::showPopup() {
    QComboBox::showPopup();
    if (dropDown_.isEmpty()) return;
    // The style places the list where it likes (over the box, or above it
    // near the screen's bottom); the window wants it just under the box.
    QWidget* popup = view()->window();
    if (!popup || popup == window()) return;
    const int listHeight = std::max(0, dropDown_.height() - height());
    const QPoint below = mapToGlobal(QPoint(0, height()));
    popup->setMinimumSize(0, 0);
    popup->setGeometry(QRect(below, QSize(dropDown_.width(), listHeight)));
}

void ComboResize(QWidget& window, DropDownCombo& combo) {
    // Both values are 16-bit in the window system's call; keep them so.
    const auto width = static_cast<std::int16_t>(std::lround(combo.width()));
    const auto height =
        static_cast<std::int16_t>(std::lround(window.height() - combo.geometry().top() + 150));
    combo.setDropDownSize(QSize(width, height));
}
