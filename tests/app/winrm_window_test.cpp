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
#include "grid/export.h"
#include "platform/linux/winrm/winrm_backend.h"
#include "winrm/fixture_categories.h"
#include "winrm/fixture_responder.h"
#include "winrm/in_process_soap.h"

namespace tavo::testing {
namespace {

// Exports as ExportingDialogs do, and opens what was written (in a list).
class OpeningDialogs : public ExportingDialogs {
  public:
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
    auto dialogs = std::make_shared<OpeningDialogs>();
    dialogs->folder = folder.path();
    MainServices services;
    services.management = wmi::makeConnectionFactory(backend, backend);
    services.dialogs = dialogs;
    Main window(services);
    window.findChild<QLineEdit*>("txtComputer")->setText("win-fixture");
    auto* categories = window.findChild<QComboBox*>("cmbFunction");
    ASSERT_NE(categories, nullptr);

    // Rows, and texts the exports must carry.
    const auto& expected = fixtureCategories();
    int ran = 0;
    for (const std::string_view text : reportCategories()) {
        const QString category = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
        if (category == "Network Computers") continue;
        SCOPED_TRACE(category.toStdString());
        const auto it = expected.find(category.toStdString());
        ASSERT_NE(it, expected.end()) << "a category without a fixture";
        categories->setCurrentText(category);
        window.cmdSwitch_Click();  // RUN
        ASSERT_TRUE(settle(window));
        const int rows = window.results().itemsCount();
        if (window.isRunning()) {
            window.cmdSwitch_Click();  // STOP a periodic report
            ASSERT_TRUE(settle(window));
        }
        EXPECT_EQ(rows, it->second.rows);
        for (int i = 1; i <= window.results().itemsCount(); ++i)
            EXPECT_EQ(window.results().item(i).ToolTipText(), "");
        if (it->second.texts.empty()) {
            ++ran;
            continue;
        }
        const std::size_t before = dialogs->opened.size();
        window.cmdExport_Click();
        window.cmdExportHTM_Click();
        ASSERT_EQ(dialogs->opened.size(), before + 2) << "an export was not written";
        const QString csv = contents(dialogs->opened[before]);
        const QString html = contents(dialogs->opened[before + 1]);
        for (const std::string& text : it->second.texts) {
            EXPECT_TRUE(csv.contains(QString::fromStdString(text))) << csv.left(400).toStdString();
            EXPECT_TRUE(html.contains(QString::fromStdString(grid::htmlEscape(text))))
                << html.left(400).toStdString();
        }
        ++ran;
    }
    EXPECT_EQ(ran, static_cast<int>(expected.size()));
    EXPECT_EQ(responder->openContexts(), 0);
}

}  // namespace
}  // namespace tavo::testing
