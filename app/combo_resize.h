#pragma once

#include <QComboBox>
#include <QSize>

// A combo box whose drop-down can be given a size: the height is that of the
// box together with its open list, as the window sizes it at start-up.
class DropDownCombo : public QComboBox {
    Q_OBJECT
  public:
    explicit DropDownCombo(QWidget* parent = nullptr);

    // Width of the list and height of box plus list, in pixels; an empty
    // size leaves the style's own drop-down.
    void setDropDownSize(QSize size) { dropDown_ = size; }
    QSize dropDownSize() const { return dropDown_; }

    void showPopup() override;

  private:
    QSize dropDown_;
};

// Sizes the combo's drop-down so the open list reaches 150 pixels below the
// bottom of the window's client area, at the combo's own width.
void ComboResize(QWidget& window, DropDownCombo& combo);
