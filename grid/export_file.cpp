#include "grid/export_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>

#include "grid/error.h"
#include "grid/export.h"

#ifdef _WIN32
#include <windows.h>

#include <fstream>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace tavo::grid {

namespace {

constexpr int kMaxSuffix = 9999;

std::uint32_t numberFor(std::error_code ec) {
    const std::error_condition c = ec.default_error_condition();
    if (c == std::errc::no_space_on_device) return errc::kDiskFull;
#ifdef EDQUOT
    if (c.category() == std::generic_category() && c.value() == EDQUOT) return errc::kDiskFull;
#endif
    if (c == std::errc::permission_denied || c == std::errc::operation_not_permitted ||
        c == std::errc::read_only_file_system) {
        return errc::kPermissionDenied;
    }
    if (c == std::errc::no_such_file_or_directory || c == std::errc::not_a_directory) {
        return errc::kPathNotFound;
    }
    return errc::kFileAccess;
}

[[noreturn]] void fail(const fs::path& file, std::error_code ec) {
    throw Error(numberFor(ec),
                "Could not write the export file " + pathToUtf8(file) + ": " + ec.message());
}

// "name (k).ext" beside `wanted`; k = 1 is `wanted` itself.
fs::path candidate(const fs::path& wanted, int k) {
    if (k == 1) return wanted;
    fs::path name = wanted.stem();
    name += " (" + std::to_string(k) + ")";
    name += wanted.extension();
    return wanted.parent_path() / name;
}

// A name no other export in flight uses: process, moment and a counter.
fs::path temporaryName(const fs::path& folder, int attempt) {
    static std::atomic<unsigned> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    char buf[96];
    std::snprintf(buf, sizeof buf, ".tavo-export-%lu-%llx-%u-%d.tmp", pid,
                  static_cast<unsigned long long>(ticks), counter++, attempt);
    return folder / buf;
}

#ifndef _WIN32

std::error_code lastError() {
    return {errno, std::generic_category()};
}

}  // namespace

NewFile::NewFile(const fs::path& wanted)
    : wanted_(wanted),
      folder_(wanted.parent_path().empty() ? fs::path(".") : wanted.parent_path()) {
    for (int attempt = 0; fd_ < 0; ++attempt) {
        tmp_ = temporaryName(folder_, attempt);
        fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && (errno != EEXIST || attempt > 100)) fail(wanted_, lastError());
    }
}

void NewFile::write(std::string_view content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::error_code ec = lastError();
            abandon();
            fail(wanted_, ec);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void NewFile::closeTemporary() {
    // Some file systems report a full disk or a lost server only on close.
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const std::error_code ec = lastError();
        ::unlink(tmp_.c_str());
        tmp_.clear();
        fail(wanted_, ec);
    }
}

void NewFile::abandon() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tmp_.empty()) ::unlink(tmp_.c_str());
    tmp_.clear();
}

namespace {

// Gives `tmp` the name `target` unless a file already has it: EEXIST then.
int renameNoReplace(const fs::path& tmp, const fs::path& target) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
#endif
    // Without renameat2 (or on a file system that refuses it) a hard link is
    // just as exclusive; where links are refused too, check, then rename.
    if (::link(tmp.c_str(), target.c_str()) == 0) {
        ::unlink(tmp.c_str());
        return 0;
    }
    if (errno == EEXIST) return EEXIST;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return errno;
    std::error_code ec;
    if (fs::exists(target, ec)) return EEXIST;
    if (::rename(tmp.c_str(), target.c_str()) == 0) return 0;
    return errno;
}

#else  // _WIN32

}  // namespace

NewFile::NewFile(const fs::path& wanted)
    : wanted_(wanted),
      folder_(wanted.parent_path().empty() ? fs::path(".") : wanted.parent_path()) {
    for (int attempt = 0;; ++attempt) {
        tmp_ = temporaryName(folder_, attempt);
        std::error_code ec;
        if (!fs::exists(tmp_, ec) || attempt > 100) break;
    }
    out_.open(tmp_, std::ios::binary | std::ios::trunc);
    if (!out_) {
        const std::error_code ec(static_cast<int>(GetLastError()), std::system_category());
        abandon();
        fail(wanted_, ec ? ec : std::make_error_code(std::errc::io_error));
    }
}

void NewFile::write(std::string_view content) {
    out_.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out_) {
        const std::error_code ec(static_cast<int>(GetLastError()), std::system_category());
        abandon();
        fail(wanted_, ec ? ec : std::make_error_code(std::errc::io_error));
    }
}

void NewFile::closeTemporary() {
    out_.close();
    if (!out_) {
        const std::error_code ec(static_cast<int>(GetLastError()), std::system_category());
        abandon();
        fail(wanted_, ec ? ec : std::make_error_code(std::errc::io_error));
    }
}

void NewFile::abandon() {
    if (out_.is_open()) out_.close();
    std::error_code ignored;
    if (!tmp_.empty()) fs::remove(tmp_, ignored);
    tmp_.clear();
}

namespace {

int renameNoReplace(const fs::path& tmp, const fs::path& target) {
    // Without MOVEFILE_REPLACE_EXISTING the move refuses an existing target.
    if (MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
    const DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return EEXIST;
    return -static_cast<int>(err);
}

#endif

}  // namespace

NewFile::~NewFile() {
    abandon();
}

fs::path NewFile::commit() {
    closeTemporary();
    for (int k = 1; k <= kMaxSuffix; ++k) {
        const fs::path target = candidate(wanted_, k);
        const int err = renameNoReplace(tmp_, target);
        if (err == 0) {
            tmp_.clear();
            return target;
        }
        if (err == EEXIST) continue;
        abandon();
#ifdef _WIN32
        if (err < 0) fail(target, std::error_code(-err, std::system_category()));
#endif
        fail(target, std::error_code(err, std::generic_category()));
    }
    abandon();
    fail(wanted_, std::make_error_code(std::errc::file_exists));
}

fs::path writeNewFile(const fs::path& wanted, std::string_view content) {
    NewFile file(wanted);
    file.write(content);
    return file.commit();
}

}  // namespace tavo::grid
