#pragma once

#include <QPalette>
#include <QPushButton>

// A push button that shows one of two fixed colourings. Changing a widget's
// palette makes a new palette each time, and the style caches its button
// pixmaps under every one of them: a RUN/STOP press cost the heap kilobytes
// for good. Here the two palettes are made once and only chosen at paint time.
class SwitchButton : public QPushButton {
  public:
    SwitchButton(const QString& text, QWidget* parent, const QColor& off, const QColor& on);
    void setOn(bool on);
    bool isOn() const { return on_; }
    // The palette the button is drawn with now.
    const QPalette& shownPalette() const { return on_ ? onPalette_ : offPalette_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPalette offPalette_;
    QPalette onPalette_;
    bool on_ = false;
};
