#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <memory>

#include "remote/prompts.h"

class QLineEdit;
class QLabel;

// The questions of a remote connection as dialogs of the window: an unknown
// host key (three choices) and a password or passphrase (never echoed).
// Texts are shown as plain text: a host name or a server's reason is data,
// never markup.

class HostKeyDialog : public QDialog {
    Q_OBJECT
  public:
    HostKeyDialog(const tavo::remote::TrustQuestion& question, QWidget* parent);
    tavo::remote::TrustAnswer answer() const { return answer_; }

  private:
    tavo::remote::TrustAnswer answer_ = tavo::remote::TrustAnswer::Cancel;
};

class PasswordDialog : public QDialog {
    Q_OBJECT
  public:
    PasswordDialog(const tavo::remote::SecretQuestion& question, QWidget* parent);
    ~PasswordDialog() override;
    // The answer; the field is emptied as it is read.
    tavo::remote::SecretAnswer take();

  private:
    QLineEdit* user_ = nullptr;
    QLineEdit* secret_ = nullptr;
};

// A prompter whose questions are asked on the window's thread while the
// asking pass waits. A pass that is stopped stops waiting at once and gets
// "cancel"; a question not yet shown is then never shown. Make it on the
// window's thread.
class WindowPrompter : public tavo::remote::Prompter {
  public:
    WindowPrompter();
    tavo::remote::TrustAnswer askTrust(const tavo::remote::TrustQuestion& question) override;
    std::optional<tavo::remote::SecretAnswer> askSecret(
        const tavo::remote::SecretQuestion& question) override;

  private:
    // The application object lives on the window's thread for as long as
    // there is one; without it nothing can be asked.
    QPointer<QObject> app_;
};

std::shared_ptr<WindowPrompter> makeWindowPrompter();
