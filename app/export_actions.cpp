#include "app/export_actions.h"

#include <QDateTime>
#include <QDir>
#include <ctime>
#include <string>

#include "grid/error.h"
#include "grid/export.h"
#include "grid/export_file.h"
#include "target/target_computer.h"

namespace {

const QString kAppTitle = QStringLiteral("Tavo");

std::tm localNow() {
    const QDateTime now = QDateTime::currentDateTime();
    std::tm t{};
    t.tm_year = now.date().year() - 1900;
    t.tm_mon = now.date().month() - 1;
    t.tm_mday = now.date().day();
    t.tm_hour = now.time().hour();
    t.tm_min = now.time().minute();
    t.tm_sec = now.time().second();
    return t;
}

void cancelled(QWidget* owner, Dialogs& dialogs) {
    dialogs.message(owner, QStringLiteral("Cancelled"), kAppTitle, Dialogs::Buttons::Ok,
                    Dialogs::Icon::None);
}

}  // namespace

void exportResults(QWidget* owner, Dialogs& dialogs, const tavo::grid::Grid& grid,
                   const QString& computer, const QString& category, ExportFormat format) {
    const std::string text =
        format == ExportFormat::Csv
            ? tavo::grid::csvText(grid)
            : tavo::grid::htmlText(grid, computer.toStdString(), category.toStdString());

    const std::optional<QString> folder =
        dialogs.chooseFolder(owner, QStringLiteral("Select a Folder for your export"));
    if (!folder || folder->isEmpty()) {
        cancelled(owner, dialogs);
        return;
    }
    const Dialogs::Answer answer = dialogs.message(
        owner,
        QStringLiteral("Would you like the data to be exported to ") +
            QDir::toNativeSeparators(*folder) + QStringLiteral("?"),
        QStringLiteral("Please Confirm"), Dialogs::Buttons::YesNo, Dialogs::Icon::None);
    if (answer != Dialogs::Answer::Yes) {
        cancelled(owner, dialogs);
        return;
    }

    // "." is this computer: its exports carry its name, as they would had the
    // user typed it.
    std::string host = computer.toStdString();
    if (host == ".") {
        const std::string local = tavo::target::localComputerName();
        if (!local.empty()) host = local;
    }
    const auto wanted = tavo::grid::exportFileName(tavo::grid::pathFromUtf8(folder->toStdString()),
                                                   host, category.toStdString(), localNow(),
                                                   format == ExportFormat::Csv ? ".csv" : ".html");
    std::filesystem::path written;
    try {
        written = tavo::grid::writeNewFile(wanted, text);
    } catch (const tavo::Error& e) {
        dialogs.message(owner, QString::fromStdString(e.description()), kAppTitle,
                        Dialogs::Buttons::Ok, Dialogs::Icon::Critical);
        return;
    }
    const QString path = QString::fromStdString(tavo::grid::pathToUtf8(written));
    if (!dialogs.openDocument(path)) {
        // The data is safe; say where it is, since nothing showed it.
        dialogs.message(owner,
                        QStringLiteral("The data was exported to ") +
                            QDir::toNativeSeparators(path) +
                            QStringLiteral(", but no application could be started to open it."),
                        kAppTitle, Dialogs::Buttons::Ok, Dialogs::Icon::Information);
    }
}
