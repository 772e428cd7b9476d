#include "app/prompt_dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "cycle/cancellation.h"

using tavo::remote::SecretAnswer;
using tavo::remote::SecretQuestion;
using tavo::remote::TrustAnswer;
using tavo::remote::TrustQuestion;

namespace {

QString fromUtf8(const std::string& s) {
    return QString::fromStdString(s);
}

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QWidget* dialogParent() {
    if (QWidget* w = QApplication::activeWindow()) return w;
    return nullptr;
}

// One question handed to the window's thread and its answer handed back.
template <class T>
struct Exchange {
    std::mutex mutex;
    std::condition_variable_any answered;
    bool done = false;
    bool abandoned = false;
    T value{};
    QPointer<QDialog> dialog;
};

template <class T>
T askOnWindowThread(const QPointer<QObject>& app, T fallback,
                    std::function<T(QWidget*, QPointer<QDialog>&)> show) {
    QObject* context = app.data();
    if (!context) return fallback;
    if (QThread::currentThread() == context->thread()) {
        QPointer<QDialog> shown;
        return show(dialogParent(), shown);
    }
    auto exchange = std::make_shared<Exchange<T>>();
    exchange->value = fallback;
    QMetaObject::invokeMethod(
        context,
        [exchange, show] {
            {
                std::lock_guard lock(exchange->mutex);
                if (exchange->abandoned) return;
            }
            T value = show(dialogParent(), exchange->dialog);
            std::lock_guard lock(exchange->mutex);
            exchange->value = std::move(value);
            exchange->done = true;
            exchange->answered.notify_all();
        },
        Qt::QueuedConnection);
    // Waits for the person or for STOP, never for the window: a window
    // that waits for this pass would otherwise wait forever.
    std::stop_token stop = tavo::cycle::currentStopToken();
    std::unique_lock lock(exchange->mutex);
    if (exchange->answered.wait(lock, stop, [&] { return exchange->done; }))
        return std::move(exchange->value);
    exchange->abandoned = true;
    // A dialog already showing is closed; its answer goes nowhere.
    QMetaObject::invokeMethod(
        context,
        [exchange] {
            if (exchange->dialog) exchange->dialog->reject();
        },
        Qt::QueuedConnection);
    return fallback;
}

}  // namespace

HostKeyDialog::HostKeyDialog(const TrustQuestion& q, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlgHostKey"));
    setWindowTitle(fromUtf8(q.protocol) + QStringLiteral(": unknown host key"));
    auto* layout = new QVBoxLayout(this);
    const QString where = fromUtf8(q.where());
    layout->addWidget(plainLabel(fromUtf8(q.why), this));
    layout->addWidget(plainLabel(QStringLiteral("Computer: ") + where, this));
    layout->addWidget(plainLabel(QStringLiteral("Key type: ") + fromUtf8(q.keyType), this));
    auto* fingerprint = new QLineEdit(fromUtf8(q.fingerprint), this);
    fingerprint->setObjectName(QStringLiteral("txtFingerprint"));
    fingerprint->setReadOnly(true);
    fingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    fingerprint->setMinimumWidth(fingerprint->fontMetrics().horizontalAdvance(fingerprint->text()) +
                                 24);
    layout->addWidget(fingerprint);
    layout->addWidget(plainLabel(
        QStringLiteral("Compare the fingerprint with the one the computer's administrator "
                       "gives you before connecting."),
        this));
    auto* buttons = new QDialogButtonBox(this);
    auto* once = buttons->addButton(QStringLiteral("Connect once"), QDialogButtonBox::AcceptRole);
    once->setObjectName(QStringLiteral("cmdConnectOnce"));
    auto* remember =
        buttons->addButton(QStringLiteral("Connect and remember"), QDialogButtonBox::AcceptRole);
    remember->setObjectName(QStringLiteral("cmdConnectRemember"));
    auto* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    // Cancel is the default: Enter must not trust a key by accident.
    cancel->setDefault(true);
    cancel->setFocus();
    connect(once, &QPushButton::clicked, this, [this] {
        answer_ = TrustAnswer::ConnectOnce;
        accept();
    });
    connect(remember, &QPushButton::clicked, this, [this] {
        answer_ = TrustAnswer::ConnectAndRemember;
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(buttons);
}

PasswordDialog::PasswordDialog(const SecretQuestion& q, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlgPassword"));
    setWindowTitle(fromUtf8(q.protocol) + QStringLiteral(": ") + fromUtf8(q.host));
    auto* layout = new QVBoxLayout(this);
    if (!q.lastFailure.empty()) {
        auto* failure = plainLabel(fromUtf8(q.lastFailure), this);
        failure->setObjectName(QStringLiteral("lblFailure"));
        failure->setStyleSheet(QStringLiteral("color: #c00000"));
        layout->addWidget(failure);
    }
    auto* form = new QFormLayout;
    user_ = new QLineEdit(fromUtf8(q.user), this);
    user_->setObjectName(QStringLiteral("txtUser"));
    user_->setReadOnly(!q.askUser);
    form->addRow(QStringLiteral("User:"), user_);
    secret_ = new QLineEdit(this);
    secret_->setObjectName(QStringLiteral("txtSecret"));
    secret_->setEchoMode(QLineEdit::Password);
    auto* promptLabel = plainLabel(fromUtf8(q.prompt) + QStringLiteral(":"), this);
    form->addRow(promptLabel, secret_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    if (q.askUser && q.user.empty())
        user_->setFocus();
    else
        secret_->setFocus();
}

// The field's own buffer cannot be overwritten from here (its text comes
// out as a shared copy); the secret is at least not left in the field.
PasswordDialog::~PasswordDialog() {
    secret_->clear();
}

SecretAnswer PasswordDialog::take() {
    SecretAnswer a;
    a.user = user_->text().toStdString();
    a.secret = secret_->text().toStdString();
    secret_->clear();
    return a;
}

WindowPrompter::WindowPrompter() : app_(QCoreApplication::instance()) {}

TrustAnswer WindowPrompter::askTrust(const TrustQuestion& question) {
    auto show = [question](QWidget* parent, QPointer<QDialog>& shown) {
        HostKeyDialog dialog(question, parent);
        shown = &dialog;
        const bool ok = dialog.exec() == QDialog::Accepted;
        return ok ? dialog.answer() : TrustAnswer::Cancel;
    };
    return askOnWindowThread<TrustAnswer>(app_, TrustAnswer::Cancel, show);
}

std::optional<SecretAnswer> WindowPrompter::askSecret(const SecretQuestion& question) {
    // A plain struct rather than an optional crosses the threads: GCC 12
    // misreads optionals of strings moved through std::function.
    struct Reply {
        bool given = false;
        SecretAnswer answer;
    };
    auto show = [question](QWidget* parent, QPointer<QDialog>& shown) {
        PasswordDialog dialog(question, parent);
        shown = &dialog;
        Reply reply;
        if (dialog.exec() == QDialog::Accepted) {
            reply.given = true;
            reply.answer = dialog.take();
        }
        return reply;
    };
    Reply reply = askOnWindowThread<Reply>(app_, Reply{}, show);
    if (!reply.given) return std::nullopt;
    return std::move(reply.answer);
}

std::shared_ptr<WindowPrompter> makeWindowPrompter() {
    return std::make_shared<WindowPrompter>();
}
