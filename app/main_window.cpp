#include "app/main_window.h"

Main::Main(QWidget* parent) : QWidget(parent) {
    setObjectName("Main");
    setWindowTitle("Tavo");
    resize(607, 234);
}
