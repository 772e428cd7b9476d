#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "support/fake_management.h"

namespace tavo::testing {

// Answers every dialog at once and remembers what was asked.
class RecordingDialogs : public Dialogs {
  public:
    struct Message {
        QString text, caption;
        Buttons buttons;
        Icon icon;
    };
    std::vector<Message> messages;
    std::vector<QUrl> urls;
    bool urlOpens = true;
    // Runs while a message box would be up (to look at the window then).
    std::function<void()> onMessage;

    int folderChoices = 0;
    std::optional<QString> file;  // what the file choice answers
    std::optional<QString> chooseFile(QWidget*, const QString&) override { return file; }
    std::optional<QString> chooseFolder(QWidget*, const QString&) override {
        ++folderChoices;
        return {};
    }
    Answer message(QWidget*, const QString& text, const QString& caption, Buttons buttons,
                   Icon icon) override {
        messages.push_back({text, caption, buttons, icon});
        if (onMessage) onMessage();
        return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
    bool openDocument(const QString&) override { return false; }
    bool openUrl(const QUrl& url) override {
        urls.push_back(url);
        return urlOpens;
    }
};

// Exports go to a folder of the test's own, and every question is answered yes.
class ExportingDialogs : public RecordingDialogs {
  public:
    QString folder;
    std::optional<QString> chooseFolder(QWidget*, const QString&) override { return folder; }
    Answer message(QWidget* owner, const QString& text, const QString& caption, Buttons buttons,
                   Icon icon) override {
        RecordingDialogs::message(owner, text, caption, buttons, icon);
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
};

// Runs the window's events until no pass of its cycle is out, or `limit`
// has passed; false on the limit.
inline bool settle(Main& window, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (window.passOut()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QCoreApplication::processEvents();
    return true;
}

// One pass of `category` on `computer` in a fresh window made of `services`,
// its dialogs recording; `look` sees the window and the dialogs once the pass
// is over (a periodic report stopped).
inline void runOnePass(MainServices services, const std::string& category,
                       const std::string& computer,
                       const std::function<void(Main&, const RecordingDialogs&)>& look) {
    auto dialogs = std::make_shared<RecordingDialogs>();
    services.dialogs = dialogs;
    Main window(services);
    window.findChild<QComboBox*>("cmbFunction")->setCurrentText(QString::fromStdString(category));
    window.findChild<QLineEdit*>("txtComputer")->setText(QString::fromStdString(computer));
    window.cmdSwitch_Click();
    EXPECT_TRUE(settle(window, std::chrono::seconds(60)));
    if (window.isRunning()) window.cmdSwitch_Click();
    look(window, *dialogs);
}

// Runs the window's events until `done` holds or `limit` has passed.
inline bool runEventsUntil(const std::function<bool()>& done,
                           std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The window with a stand-in collector, so the cycle runs without a service.
// The stand-in runs on the pass's thread; `calls` may be read once the pass
// has come back (settle()).
class TestMain : public Main {
  public:
    struct Call {
        std::string collector;
        std::string wmiclass;
        int onepass = 0;
    };
    using Pass = std::function<void(ReportContext&, const Call&)>;

  private:
    // Shared with the passes, so a pass that outlives the window still has
    // something to record into.
    struct Recorder {
        std::mutex mutex;
        std::vector<Call> calls;
        // By default, like the real collectors, a one-pass report ends its pass.
        Pass pass = [](ReportContext& ctx, const Call& c) {
            if (c.onepass) ctx.endOfPass();
        };
    };
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();

  public:
    std::vector<Call>& calls = recorder_->calls;
    // What a collector does besides being recorded.
    Pass& pass = recorder_->pass;

    explicit TestMain(MainServices services) : Main(std::move(services)) {
        setCollector([recorder = recorder_](const ReportDefinition& r, ReportContext& ctx) {
            static const char* const kNames[] = {"DriveMon", "NetMon", "PrintMon", "GetResults",
                                                 "ListComputers"};
            Call c{kNames[static_cast<int>(r.collector)],
                   r.collector == CollectorKind::GetResults ? std::string(r.managementClass) : "",
                   r.onePass ? -1 : 0};
            Pass pass;
            {
                std::lock_guard lock(recorder->mutex);
                recorder->calls.push_back(c);
                pass = recorder->pass;
            }
            if (pass) pass(ctx, c);
        });
    }
};

// A pass that waits where it stands until the test lets it go, as a back end
// stuck in a call would.
class Gate {
  public:
    void wait() {
        std::unique_lock lock(m_);
        ++waiting_;
        cv_.notify_all();
        cv_.wait(lock, [&] { return open_; });
        --waiting_;
        ++passed_;
        cv_.notify_all();
    }
    void open() {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    // Blocks until `n` passes have gone through the gate.
    bool passed(int n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, limit, [&] { return passed_ >= n; });
    }
    bool waiting(int n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, limit, [&] { return waiting_ >= n; });
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
    int waiting_ = 0;
    int passed_ = 0;
};

// Sets or clears COMPUTERNAME for one test and puts it back afterwards.
class ScopedComputerName {
  public:
    explicit ScopedComputerName(const char* value) {
        if (const char* old = std::getenv("COMPUTERNAME")) saved_ = old;
        if (value)
            setenv("COMPUTERNAME", value, 1);
        else
            unsetenv("COMPUTERNAME");
    }
    ~ScopedComputerName() {
        if (saved_)
            setenv("COMPUTERNAME", saved_->c_str(), 1);
        else
            unsetenv("COMPUTERNAME");
    }

  private:
    std::optional<std::string> saved_;
};

class MainTest : public ::testing::Test {
  protected:
    void SetUp() override { makeWindow(); }

    void makeWindow() {
        window.reset();
        dialogs = std::make_shared<RecordingDialogs>();
        MainServices services;
        services.management = std::make_shared<FakeFactory>(backend);
        services.dialogs = dialogs;
        window = std::make_unique<TestMain>(services);
    }

    template <class T>
    T* control(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QPushButton* button(const char* name) { return control<QPushButton>(name); }
    QLineEdit* field(const char* name) { return control<QLineEdit>(name); }
    QLabel* label(const char* name) { return control<QLabel>(name); }
    QTimer* timer() { return control<QTimer>("tmrPing"); }

    void chooseCategory(const QString& text) {
        control<QComboBox>("cmbFunction")->setCurrentText(text);
    }
    // RUN or STOP, and the pass it starts brought in.
    void run() {
        window->cmdSwitch_Click();
        EXPECT_TRUE(settle(*window));
    }
    void tick() {
        window->tmrPing_Timer();
        EXPECT_TRUE(settle(*window));
    }

    ScopedComputerName name_{"TESTPC"};
    std::shared_ptr<FakeBackend> backend = std::make_shared<FakeBackend>();
    std::shared_ptr<RecordingDialogs> dialogs;
    std::unique_ptr<TestMain> window;
};

}  // namespace tavo::testing
