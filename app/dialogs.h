#pragma once

#include <QString>
#include <QUrl>
#include <optional>

class QWidget;

// Folder choice, message boxes and document opening, behind one small
// interface so tests answer them without a person.
class Dialogs {
  public:
    enum class Buttons { Ok, YesNo };
    enum class Icon { None, Information, Warning, Critical };
    enum class Answer { Ok, Yes, No };

    virtual ~Dialogs() = default;
    // An existing folder chosen by the user, or nothing when cancelled.
    virtual std::optional<QString> chooseFolder(QWidget* owner, const QString& title) = 0;
    // An existing file chosen by the user, or nothing when cancelled (as
    // where no file can be chosen).
    virtual std::optional<QString> chooseFile(QWidget* /*owner*/, const QString& /*title*/) {
        return std::nullopt;
    }
    // A message box; with YesNo, Yes is the default button.
    virtual Answer message(QWidget* owner, const QString& text, const QString& caption,
                           Buttons buttons = Buttons::Ok, Icon icon = Icon::None) = 0;
    // Open a file with the desktop's associated application; false when that failed.
    virtual bool openDocument(const QString& path) = 0;
    // Open an address in the desktop's browser; false when that failed.
    virtual bool openUrl(const QUrl& url) = 0;
};

// The real dialogs (QFileDialog, QMessageBox, QDesktopServices).
class QtDialogs : public Dialogs {
  public:
    std::optional<QString> chooseFolder(QWidget* owner, const QString& title) override;
    std::optional<QString> chooseFile(QWidget* owner, const QString& title) override;
    Answer message(QWidget* owner, const QString& text, const QString& caption, Buttons buttons,
                   Icon icon) override;
    bool openDocument(const QString& path) override;
    bool openUrl(const QUrl& url) override;
};
