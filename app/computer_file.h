#pragma once

#include <QString>
#include <string>
#include <vector>

// A file of computers chosen in the window: one a line, '#' comments, as
// tavo-report's --computers reads it.
struct ComputerFile {
    std::vector<std::string> computers;
    QString error;  // what went wrong, for the user; empty when read
};

// Reads `path` without waiting on it: a FIFO or a device (which could block
// the window for good) is refused, as is a file over 1 MiB (a list of
// computers is small) or one that names no computer.
ComputerFile readComputerFile(const QString& path);
