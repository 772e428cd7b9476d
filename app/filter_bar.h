#pragma once

#include <QWidget>

#include "app/row_filter_model.h"

class QComboBox;
class QLabel;
class QLineEdit;

// The strip's filter: a text field (Esc clears it), the lamp choice beside
// it and a label with the number of rows shown out of all. Object names
// follow the window's control names: txtFilter, cmbLamps, lblRows.
class FilterBar : public QWidget {
    Q_OBJECT
  public:
    explicit FilterBar(QWidget* parent = nullptr);

    QLineEdit* field() const { return txtFilter_; }
    QComboBox* lamps() const { return cmbLamps_; }
    QLabel* rowsLabel() const { return lblRows_; }
    LampChoice lampChoice() const;

    // Puts the cursor in the field with its text selected, ready to type over.
    void focusFilter();
    void setCounts(int shown, int total);
    // The width it asks for with everything shown, whatever is hidden now.
    int preferredWidth() const;
    // Placed at `area`; where that is too narrow for all, the row count
    // gives way first.
    void place(const QRect& area);
    // "12 of 300 rows".
    static QString countsText(int shown, int total);

  signals:
    void filterTextChanged(const QString& text);
    void lampChoiceChanged(LampChoice choice);
    // The field got (true) or lost the focus: while it has it, a search is likely.
    void filterFocusChanged(bool focused);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLineEdit* txtFilter_ = nullptr;
    QComboBox* cmbLamps_ = nullptr;
    QLabel* lblRows_ = nullptr;
};
