#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <functional>
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

// The window with stand-in collectors, so the cycle runs without a service.
class TestMain : public Main {
  public:
    using Main::Main;
    struct Call {
        std::string collector;
        std::string wmiclass;
        int onepass = 0;
    };
    std::vector<Call> calls;
    // What a collector does besides being recorded; by default, like the
    // real ones, a one-pass collector ends its pass.
    std::function<void(TestMain&, const Call&)> pass = [](TestMain& m, const Call& c) {
        if (c.onepass) m.endOfPass();
    };

    void GetResults(const std::string& wmiclass, std::int16_t& onepass) override {
        record({"GetResults", wmiclass, onepass});
    }
    void DriveMon() override { record({"DriveMon", "", -1}); }
    void NetMon() override { record({"NetMon", "", 0}); }
    void PrintMon() override { record({"PrintMon", "", 0}); }
    void ListComputers(std::int16_t& onepass) override { record({"ListComputers", "", onepass}); }

  private:
    void record(Call c) {
        calls.push_back(c);
        if (pass) pass(*this, c);
    }
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
    void run() { window->cmdSwitch_Click(); }

    ScopedComputerName name_{"TESTPC"};
    std::shared_ptr<FakeBackend> backend = std::make_shared<FakeBackend>();
    std::shared_ptr<RecordingDialogs> dialogs;
    std::unique_ptr<TestMain> window;
};

}  // namespace tavo::testing
