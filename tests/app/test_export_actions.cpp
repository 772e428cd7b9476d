#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
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
    EXPECT_TRUE(files().first().startsWith("___PC-BIOS_"));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.messages[1].text.contains(files().first()));
    EXPECT_EQ(dialogs.messages[1].icon, Dialogs::Icon::Information);
}

namespace {

// The real message boxes, with the folder answered by script: every box that
// comes up is read and closed by a timer.
struct RealBoxes : ScriptedDialogs {
    struct Seen {
        Qt::TextFormat format;
        QString text;
        bool markupRendered;
    };
    std::vector<Seen> seen;
    QtDialogs real;

    Answer message(QWidget* owner, const QString& text, const QString& caption, Buttons buttons,
                   Icon icon) override {
        QTimer::singleShot(0, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            // A label showing markup as rich text holds no "<h1" in what it draws.
            bool rendered = false;
            for (QLabel* label : box->findChildren<QLabel*>()) {
                if (label->text().contains("<h1") && label->textFormat() != Qt::PlainText)
                    rendered = true;
            }
            seen.push_back({box->textFormat(), box->text(), rendered});
            box->done(QMessageBox::Yes);
        });
        return real.message(owner, text, caption, buttons, icon);
    }
};

}  // namespace

// Computer texts and folder names are shown as typed: markup in them must
// not become a heading or load an image in a message box.
TEST_F(ExportActions, DialogsShowComputerAndFolderTextAsPlainText) {
    const QString markup = R"(<h1 style="color:red">BIG</h1><img src=x>)";
    RealBoxes boxes;
    QDir(dir.path()).mkdir("dir" + QString(markup).replace('/', '_'));
    boxes.folder = dir.filePath("dir" + QString(markup).replace('/', '_'));
    boxes.openSucceeds = false;
    exportResults(nullptr, boxes, grid, markup, "Logical Drives", ExportFormat::Html);
    // The confirmation, then "no application could be started".
    ASSERT_EQ(boxes.seen.size(), 2u);
    for (const auto& s : boxes.seen) {
        EXPECT_EQ(s.format, Qt::PlainText);
        EXPECT_TRUE(s.text.contains("<h1 style")) << s.text.toStdString();
        EXPECT_FALSE(s.markupRendered);
    }
    // A failing write names the folder the same way.
    boxes.seen.clear();
    boxes.folder = dir.filePath("gone" + QString(markup).replace('/', '_'));
    exportResults(nullptr, boxes, grid, markup, "Logical Drives", ExportFormat::Csv);
    ASSERT_EQ(boxes.seen.size(), 2u);
    EXPECT_EQ(boxes.seen[1].format, Qt::PlainText);
    EXPECT_TRUE(boxes.seen[1].text.contains("<h1 style")) << boxes.seen[1].text.toStdString();
}

// "." names this computer: its exports carry the computer's name, not a
// leading dot that hides them.
TEST_F(ExportActions, ThisComputerAsADotGivesAVisibleName) {
    dialogs.folder = dir.path();
    exportResults(nullptr, dialogs, grid, ".", "Logical Drives", ExportFormat::Csv);
    ASSERT_EQ(files().size(), 1);
    EXPECT_FALSE(files().first().startsWith('.')) << files().first().toStdString();
    EXPECT_TRUE(files().first().contains("-Logical Drives_"));
}
