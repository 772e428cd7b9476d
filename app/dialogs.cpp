#include "app/dialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

std::optional<QString> QtDialogs::chooseFolder(QWidget* owner, const QString& title) {
    // The browser starts at the top of the user's own files, as the shell's
    // namespace root does on Windows, not in whatever folder Tavo was started from.
    const QString dir = QFileDialog::getExistingDirectory(owner, title, QDir::homePath(),
                                                          QFileDialog::ShowDirsOnly);
    if (dir.isEmpty()) return std::nullopt;
    return dir;
}

std::optional<QString> QtDialogs::chooseFile(QWidget* owner, const QString& title) {
    const QString file = QFileDialog::getOpenFileName(
        owner, title, QDir::homePath(),
        QStringLiteral("Lists of computers (*.txt *.lst);;All files (*)"));
    if (file.isEmpty()) return std::nullopt;
    return file;
}

Dialogs::Answer QtDialogs::message(QWidget* owner, const QString& text, const QString& caption,
                                   Buttons buttons, Icon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    // Texts here carry computer names, folder paths and back ends' messages:
    // shown as typed, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (icon) {
        case Icon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case Icon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case Icon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case Icon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

bool QtDialogs::openDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool QtDialogs::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}
