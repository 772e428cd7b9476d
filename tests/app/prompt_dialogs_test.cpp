// The remote connections' questions as dialogs: asked from a pass's thread,
// answered on the window's, and never left hanging when the pass stops.
#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <future>
#include <thread>

#include "app/prompt_dialogs.h"
#include "cycle/cancellation.h"
#include "main_fixture.h"
#include "netenum/scripted_network.h"
#include "support/prompt_questions.h"

namespace tavo::testing {
namespace {

using std::chrono::milliseconds;

// A dialog runs its own event loop, so the test acts on it from a timer
// inside that loop: `act` once the dialog named `name` shows, then events
// run until `done`.
bool answerDialog(const char* name, const std::function<void(QDialog*)>& act,
                  const std::function<bool()>& done) {
    QTimer timer;
    bool acted = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (acted) return;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == name && w->isVisible()) {
                acted = true;
                act(qobject_cast<QDialog*>(w));
                return;
            }
        }
    });
    timer.start(10);
    return runEventsUntil(done) && acted;
}

template <class T>
bool ready(const std::future<T>& f) {
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

TEST(PromptDialogs, APassAsksAPasswordAndGetsItFromTheWindowThread) {
    WindowPrompter prompter;
    remote::SecretQuestion q = alicePassword();
    q.lastFailure = "<b>refused</b>";
    auto answer = std::async(std::launch::async, [&] { return prompter.askSecret(q); });
    bool checked = false;
    ASSERT_TRUE(answerDialog(
        "dlgPassword",
        [&](QDialog* dialog) {
            auto* secret = dialog->findChild<QLineEdit*>("txtSecret");
            auto* user = dialog->findChild<QLineEdit*>("txtUser");
            auto* failure = dialog->findChild<QLabel*>("lblFailure");
            ASSERT_TRUE(secret && user && failure);
            EXPECT_EQ(secret->echoMode(), QLineEdit::Password);
            EXPECT_FALSE(user->isReadOnly());
            EXPECT_EQ(user->text(), "alice");
            EXPECT_EQ(failure->textFormat(), Qt::PlainText);
            user->setText("bob");
            secret->setText("s3cret");
            checked = true;
            dialog->accept();
        },
        [&] { return ready(answer); }));
    EXPECT_TRUE(checked);
    auto got = answer.get();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->user, "bob");
    EXPECT_EQ(got->secret, "s3cret");
}

TEST(PromptDialogs, HostKeyChoicesMapToTheAnswersAndCancelIsTheDefault) {
    WindowPrompter prompter;
    const remote::TrustQuestion q = unknownHostKey();
    struct Case {
        const char* button;
        remote::TrustAnswer expected;
    };
    for (const Case c : {Case{"cmdConnectOnce", remote::TrustAnswer::ConnectOnce},
                         Case{"cmdConnectRemember", remote::TrustAnswer::ConnectAndRemember},
                         Case{"cmdCancel", remote::TrustAnswer::Cancel}}) {
        auto answer = std::async(std::launch::async, [&] { return prompter.askTrust(q); });
        ASSERT_TRUE(answerDialog(
            "dlgHostKey",
            [&](QDialog* dialog) {
                EXPECT_EQ(dialog->findChild<QLineEdit*>("txtFingerprint")->text(), "SHA256:abc");
                EXPECT_TRUE(dialog->findChild<QPushButton*>("cmdCancel")->isDefault());
                dialog->findChild<QPushButton*>(c.button)->click();
            },
            [&] { return ready(answer); }));
        EXPECT_EQ(answer.get(), c.expected) << c.button;
    }
}

TEST(PromptDialogs, AStoppedPassStopsWaitingAndItsDialogIsNeverShownOrIsClosed) {
    WindowPrompter prompter;
    remote::SecretQuestion q;
    q.protocol = "SSH";
    q.host = "db1";
    q.prompt = "Password";

    // Stopped before the window got to the question: no dialog at all.
    {
        std::stop_source stop;
        stop.request_stop();
        auto answer = std::async(std::launch::async, [&] {
            cycle::StopScope scope(stop.get_token());
            return prompter.askSecret(q);
        });
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_FALSE(answer.get());
        QCoreApplication::processEvents();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    // Stopped while the dialog shows: it closes and the pass gets nothing.
    {
        std::stop_source stop;
        auto answer = std::async(std::launch::async, [&] {
            cycle::StopScope scope(stop.get_token());
            return prompter.askSecret(q);
        });
        QPointer<QDialog> shown;
        ASSERT_TRUE(answerDialog(
            "dlgPassword",
            [&](QDialog* dialog) {
                shown = dialog;
                stop.request_stop();
            },
            [&] { return ready(answer) && (!shown || !shown->isVisible()); }));
        EXPECT_FALSE(answer.get());
        EXPECT_TRUE(!shown || !shown->isVisible());
    }
}

TEST(NetworkComputersRows, DoubleClickWhileStoppedMakesTheRowTheTarget) {
    ScopedComputerName name{"TESTPC"};
    auto net = std::make_shared<test::ScriptedNetwork>();
    net->containers[""].children = {test::container(RESOURCEDISPLAYTYPE_NETWORK, "Net")};
    net->containers["Net"].children = {test::container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    net->containers["WG"].children = {test::server("ALPHA", 0), test::server("BRAVO", 0)};
    MainServices services;
    services.management = std::make_shared<FakeFactory>(std::make_shared<FakeBackend>());
    services.network = net;
    services.dialogs = std::make_shared<RecordingDialogs>();
    Main window(services);
    window.findChild<QComboBox*>("cmbFunction")->setCurrentText("Network Computers");
    window.cmdSwitch_Click();
    ASSERT_TRUE(settle(window));
    auto* view = window.findChild<QTreeView*>("Results");
    auto* txt = window.findChild<QLineEdit*>("txtComputer");
    const QModelIndex second = view->model()->index(1, 0);
    const QString expected = view->model()->index(1, 1).data().toString();
    ASSERT_FALSE(expected.isEmpty());
    emit view->doubleClicked(second);
    EXPECT_EQ(txt->text(), expected);

    // Choosing another report without running it leaves the computers
    // shown, and they still lead somewhere.
    txt->setText("TESTPC");
    window.findChild<QComboBox*>("cmbFunction")->setCurrentText("Processes");
    window.Results_DblClick(second);
    EXPECT_EQ(txt->text(), expected);

    // Another report's rows are not computers, even with the list chosen
    // again but not yet run (here its only row is a failure's text).
    txt->setText("TESTPC");
    window.cmdSwitch_Click();
    ASSERT_TRUE(settle(window));
    if (window.isRunning()) window.cmdSwitch_Click();
    ASSERT_GE(view->model()->rowCount(), 1);
    ASSERT_FALSE(view->model()->index(0, 1).data().toString().isEmpty());
    window.findChild<QComboBox*>("cmbFunction")->setCurrentText("Network Computers");
    window.Results_DblClick(view->model()->index(0, 0));
    EXPECT_EQ(txt->text(), "TESTPC");
}

}  // namespace
}  // namespace tavo::testing
