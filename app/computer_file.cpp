#include "app/computer_file.h"

#include <QFile>

#include "cycle/computer_list.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 kMaxBytes = 1 << 20;

QString cannotRead(const QString& path, const QString& why) {
    return QStringLiteral("Cannot read the computers from \"%1\": %2").arg(path, why);
}

}  // namespace

ComputerFile readComputerFile(const QString& path) {
    ComputerFile out;
    QFile file;
#ifdef Q_OS_UNIX
    // Opened without blocking and then looked at, so a FIFO put in its
    // place between a check and the open cannot hang the window.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        out.error = cannotRead(path, QString::fromLocal8Bit(strerror(errno)));
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        out.error = cannotRead(path, QStringLiteral("it is not a regular file"));
        return out;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        out.error = cannotRead(path, file.errorString());
        return out;
    }
#else
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = cannotRead(path, file.errorString());
        return out;
    }
#endif
    const QByteArray text = file.read(kMaxBytes + 1);
    if (text.size() > kMaxBytes) {
        out.error = cannotRead(path, QStringLiteral("it is larger than 1 MiB"));
        return out;
    }
    out.computers = tavo::cycle::computersFromText(std::string_view(text.constData(), text.size()));
    if (out.computers.empty()) out.error = cannotRead(path, QStringLiteral("it names no computer"));
    return out;
}
