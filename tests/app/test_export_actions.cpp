#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <vector>

#include "app/export_actions.h"
#include "grid/export.h"

namespace {

// Answers the export's dialogs from a script and records what was shown.
struct ScriptedDialogs : Dialogs {
    std::optional<QString> folder;
    Answer confirm = Answer::Yes;
    bool openSucceeds = true;
    std::function<void()> whileChoosing;

    QStringList titles;
    struct Shown {
        QString text, caption;
        Buttons buttons;
        Icon icon;
    };
    std::vector<Shown> messages;
    QStringList opened;

    std::optional<QString> chooseFolder(QWidget*, const QString& title) override {
        titles << title;
        if (whileChoosing) whileChoosing();
        return folder;
    }
    Answer message(QWidget*, const QString& text, const QString& caption, Buttons buttons,
                   Icon icon) override {
        messages.push_back({text, caption, buttons, icon});
        return buttons == Buttons::YesNo ? confirm : Answer::Ok;
    }
    bool openDocument(const QString& path) override {
        opened << path;
        return openSucceeds;
    }
    bool openUrl(const QUrl&) override { return false; }
};

struct ExportActions : ::testing::Test {
    tavo::grid::Grid grid;
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        grid.columnsAdd("Drive");
        grid.columnsAdd("Free");
        grid.itemsAdd("", "C:", 2).setSubItems(1, "10 GB");
        grid.itemsAdd("", "D:", 1).setSubItems(1, "2 GB");
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
    QByteArray read(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

}  // namespace

TEST_F(ExportActions, CancelInTheFolderChoiceWritesNothing) {
    exportResults(nullptr, dialogs, grid, "PC", "Logical Drives", ExportFormat::Csv);
    EXPECT_EQ(dialogs.titles, QStringList{"Select a Folder for your export"});
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Cancelled");
    EXPECT_EQ(dialogs.messages[0].caption, "Tavo");
    EXPECT_EQ(dialogs.messages[0].buttons, Dialogs::Buttons::Ok);
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Icon::None);
    EXPECT_TRUE(dialogs.opened.isEmpty());
}

TEST_F(ExportActions, NoAtTheConfirmationWritesNothing) {
    dialogs.folder = dir.path();
    dialogs.confirm = Dialogs::Answer::No;
    exportResults(nullptr, dialogs, grid, "PC", "Logical Drives", ExportFormat::Html);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "Would you like the data to be exported to " +
                                            QDir::toNativeSeparators(dir.path()) + "?");
    EXPECT_EQ(dialogs.messages[0].caption, "Please Confirm");
    EXPECT_EQ(dialogs.messages[0].buttons, Dialogs::Buttons::YesNo);
    EXPECT_EQ(dialogs.messages[1].text, "Cancelled");
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(dialogs.opened.isEmpty());
}

TEST_F(ExportActions, YesWritesTheTextTakenBeforeTheDialogsAndOpensIt) {
    dialogs.folder = dir.path();
    const std::string before = tavo::grid::csvText(grid);
    // A refresh while the folder dialog is open must not change the file.
    dialogs.whileChoosing = [this] {
        grid.itemsClear();
        grid.itemsAdd("", "Z:");
    };
    exportResults(nullptr, dialogs, grid, "PC", "Logical Drives", ExportFormat::Csv);
    ASSERT_EQ(files().size(), 1);
    const QString name = files().first();
    EXPECT_TRUE(QRegularExpression("^PC-Logical Drives_\\d{14}\\.csv$").match(name).hasMatch())
        << name.toStdString();
    const QString path = dir.filePath(name);
    EXPECT_EQ(read(path), QByteArray::fromStdString(before));
    EXPECT_EQ(dialogs.opened, QStringList{path});
    EXPECT_EQ(dialogs.messages.size(), 1u);  // only the confirmation

    // A second export in the same second gets its own file.
    dialogs.whileChoosing = nullptr;
    exportResults(nullptr, dialogs, grid, "PC", "Logical Drives", ExportFormat::Html);
    exportResults(nullptr, dialogs, grid, "PC", "Logical Drives", ExportFormat::Html);
    EXPECT_EQ(files().size(), 3);
    ASSERT_EQ(dialogs.opened.size(), 3);
    EXPECT_NE(dialogs.opened[1], dialogs.opened[2]);
    EXPECT_TRUE(read(dialogs.opened[2]).startsWith("<html><head><meta charset=\"utf-8\">"));
    EXPECT_TRUE(read(dialogs.opened[2]).contains("<title>Tavo - PC - Logical Drives</title>"));
}

TEST_F(ExportActions, AFailedWriteSaysWhichFileAndWhyAndOpensNothing) {
    dialogs.folder = dir.filePath("removed-after-choosing");
    exportResults(nullptr, dialogs, grid, "PC", "Processes", ExportFormat::Csv);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    const auto& failure = dialogs.messages[1];
    EXPECT_EQ(failure.icon, Dialogs::Icon::Critical);
    EXPECT_TRUE(failure.text.contains("removed-after-choosing/PC-Processes_"))
        << failure.text.toStdString();
    EXPECT_TRUE(failure.text.contains("No such file or directory")) << failure.text.toStdString();
    EXPECT_TRUE(dialogs.opened.isEmpty());
}

TEST_F(ExportActions, AFileNoApplicationOpensIsStillReportedWithItsPlace) {
    dialogs.folder = dir.path();
    dialogs.openSucceeds = false;
    exportResults(nullptr, dialogs, grid, "../PC", "BIOS", ExportFormat::Csv);
    ASSERT_EQ(files().size(), 1);  // in the chosen folder, not above it
    EXPECT_TRUE(files().first().startsWith(".._PC-BIOS_"));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.messages[1].text.contains(files().first()));
    EXPECT_EQ(dialogs.messages[1].icon, Dialogs::Icon::Information);
}
