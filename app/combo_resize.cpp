#include "app/combo_resize.h"

#include <QAbstractItemView>
#include <QScreen>
#include <QWidget>
#include <cmath>
#include <cstdint>

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
