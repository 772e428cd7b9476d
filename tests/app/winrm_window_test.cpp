// The window against a Windows computer's WinRM service made of fixtures:
// every category run from the category list, its rows shown, its CSV and
// HTML exports written, exactly as against WMI over COM.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <map>

#include "app/main_fixture.h"
#include "platform/linux/winrm/winrm_backend.h"
#include "winrm/fixture_responder.h"
#include "winrm/in_process_soap.h"

namespace tavo::testing {
namespace {

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
    bool openDocument(const QString& path) override {
        opened.push_back(path);
        return true;
    }
    std::vector<QString> opened;
};

QString contents(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

TEST(WinRmWindow, EveryCategoryRunsAgainstAWindowsComputerAndExports) {
    ScopedComputerName name("TESTPC");
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto responder = makeFixtureResponder(std::string(TAVO_TEST_DATA) + "/winrm");
    auto backend = winrm::makeWinRmBackend([responder](const std::string& computer) {
        return std::make_shared<InProcessTransport>(responder,
                                                    "http://" + computer + ":5985/wsman");
    });
    auto dialogs = std::make_shared<ExportingDialogs>();
    dialogs->folder = folder.path();
    MainServices services;
    services.management = wmi::makeConnectionFactory(backend, backend);
    services.dialogs = dialogs;
    Main window(services);
    window.findChild<QLineEdit*>("txtComputer")->setText("win-fixture");
    auto* categories = window.findChild<QComboBox*>("cmbFunction");
    ASSERT_NE(categories, nullptr);

    // Rows, and a text the exports must carry.
    const std::map<QString, std::pair<int, QString>> expected{
        {"Logical Drives", {3, "Data &amp; Logs &lt;archive&gt;"}},
        {"Network Adapters", {2, "10.30.40.64"}},
        {"Printers", {2, "HP LaserJet 4th floor"}},
        {"Print Jobs", {0, ""}},
        {"Battery", {0, ""}},
        {"Physical Memory", {2, "DIMM 1"}},
        {"Programs", {2, "7-Zip 23.01 (x64 edition)"}},
        {"User Accounts", {4, "Remote Management Users"}},
        {"Physical Drives", {1, "VMware Virtual NVMe Disk"}},
        {"BIOS", {1, "20230522000000.000000+000"}},
        {"Computer", {1, "corp.example"}},
        {"Operating System", {1, "Microsoft Windows Server 2022 Standard"}},
        {"Processes", {6, "powershell.exe"}},
        {"Services", {6, "Print Spooler"}},
        {"Video", {1, "VMware SVGA 3D"}},
        {"Shares", {4, "ADMIN$"}},
        {"Desktops", {2, ".DEFAULT"}},
        {"Routing Table", {2, "10.30.40.0"}},
        {"TimeZone", {1, "Pacific Standard Time"}},
        {"Processor", {1, "GenuineIntel"}},
        {"Motherboard", {1, "440BX Desktop Reference Platform"}},
        {"Environ Variables", {3, "ComSpec"}},
    };
    int ran = 0;
    for (const std::string_view text : reportCategories()) {
        const QString category = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
        if (category == "Network Computers") continue;
        SCOPED_TRACE(category.toStdString());
        const auto it = expected.find(category);
        ASSERT_NE(it, expected.end()) << "a category without a fixture";
        categories->setCurrentText(category);
        window.cmdSwitch_Click();  // RUN
        ASSERT_TRUE(settle(window));
        const int rows = window.results().itemsCount();
        if (window.isRunning()) {
            window.cmdSwitch_Click();  // STOP a periodic report
            ASSERT_TRUE(settle(window));
        }
        EXPECT_EQ(rows, it->second.first);
        for (int i = 1; i <= window.results().itemsCount(); ++i)
            EXPECT_EQ(window.results().item(i).ToolTipText(), "");
        if (it->second.second.isEmpty()) {
            ++ran;
            continue;
        }
        const std::size_t before = dialogs->opened.size();
        window.cmdExport_Click();
        window.cmdExportHTM_Click();
        ASSERT_EQ(dialogs->opened.size(), before + 2) << "an export was not written";
        const QString csv = contents(dialogs->opened[before]);
        const QString html = contents(dialogs->opened[before + 1]);
        QString plain = it->second.second;
        plain.replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&");
        EXPECT_TRUE(csv.contains(plain)) << csv.left(400).toStdString();
        EXPECT_TRUE(html.contains(it->second.second)) << html.left(400).toStdString();
        ++ran;
    }
    EXPECT_EQ(ran, static_cast<int>(expected.size()));
    EXPECT_EQ(responder->openContexts(), 0);
}

}  // namespace
}  // namespace tavo::testing
