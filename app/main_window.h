#pragma once

#include <QWidget>

// The one window of the program.
class Main : public QWidget {
    Q_OBJECT
public:
    explicit Main(QWidget* parent = nullptr);
};
