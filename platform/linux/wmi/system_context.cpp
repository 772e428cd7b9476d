#include "platform/linux/wmi/system_context.h"

#include "platform/linux/wmi/fs_probe.h"
#include "platform/linux/wmi/net_probe.h"
#include "platform/linux/wmi/print_system.h"
#include "platform/linux/wmi/service_manager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cctype>

namespace tavo::linuxwmi {

std::filesystem::path SystemContext::path(std::string_view absolute) const {
    while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
    return root / std::filesystem::path(absolute);
}

namespace {

// Reads a regular file without ever waiting on whoever is at its other end:
// O_NONBLOCK keeps the open of a FIFO or a device from blocking, and fstat
// refuses anything that is not a plain file before the first read.
std::optional<std::string> readRegular(const std::filesystem::path& file, std::size_t limit,
                                       int extraFlags) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | extraFlags);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string data;
    // /proc and /sys report a size of zero or one page whatever they hold,
    // so the size only sets the first guess.
    data.resize(std::min<std::size_t>(limit, st.st_size > 0 ? std::size_t(st.st_size) + 1 : 4096));
    std::size_t used = 0;
    while (used < limit) {
        if (used == data.size()) data.resize(std::min(limit, data.size() * 2));
        const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    data.resize(used);
    return data;
}

}  // namespace

std::optional<std::string> SystemContext::readFile(std::string_view absolute,
                                                   std::size_t limit) const {
    return readRegular(path(absolute), limit, 0);
}

std::optional<std::string> SystemContext::readUserFile(std::string_view absolute,
                                                       std::size_t limit) const {
    return readRegular(path(absolute), limit, O_NOFOLLOW);
}

std::optional<std::string> SystemContext::readLine(std::string_view absolute) const {
    auto text = readFile(absolute, 64 * 1024);
    if (!text || text->empty()) return std::nullopt;
    text->resize(std::min(text->size(), text->find('\n')));
    return text;
}

std::string SystemContext::computerName() const {
    std::string name;
    if (auto h = readLine("/proc/sys/kernel/hostname"); h && !h->empty()) {
        name = *h;
    } else {
        char buf[256] = {};
        if (gethostname(buf, sizeof buf - 1) == 0) name = buf;
    }
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
}

SystemContext SystemContext::forThisMachine() {
    SystemContext ctx;
    // The real probes are attached here as their classes arrive.
    ctx.fs = makeStatvfsProbe();
    ctx.printing = makeCupsPrintSystem();
    ctx.services = makeSystemdManager();
    ctx.net = makeGetifaddrsProbe();
    return ctx;
}

}  // namespace tavo::linuxwmi
