#include <QApplication>
#include <QLocale>

#include "app/main_window.h"
#include "app/product.h"
#include "collectors/value.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(productName());
    QApplication::setDesktopFileName(QStringLiteral("org.example.tavo.Tavo"));
    // Fusion draws the design's button and field colours on every desktop.
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Reals in the grid use the user's decimal separator.
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        tavo::wmi::setDecimalSeparator(static_cast<char>(point.at(0).unicode()));
    Main window(defaultServices());
    window.show();
    return QApplication::exec();
}
