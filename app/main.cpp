#include <QApplication>
#include <QLocale>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "app/product.h"
#include "collectors/value.h"
#include "support/background.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(productName());
    QApplication::setDesktopFileName(QStringLiteral("org.example.tavo.Tavo"));
    // Fusion draws the palette colours the window sets on buttons and fields
    // on every desktop; native styles replace them with their own.
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Reals in the grid use the user's decimal separator.
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        tavo::wmi::setDecimalSeparator(static_cast<char>(point.at(0).unicode()));
    int rc = 0;
    {
        Main window(defaultServices());
        window.show();
        rc = QApplication::exec();
    }
    // The window stopped its cycle as it went; a pass ends within moments of
    // that, and every background thread is waited for here, once. One still
    // inside a remote call must not be in libssh or OpenSSL while their
    // globals are torn down: leave without the teardown then (the settings
    // were written when the window went).
    if (!tavo::background::finish(std::chrono::seconds(3))) {
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    return rc;
}
