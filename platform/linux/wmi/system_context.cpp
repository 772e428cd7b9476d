#include "platform/linux/wmi/system_context.h"

#include "platform/linux/wmi/fs_probe.h"
#include "platform/linux/wmi/net_probe.h"
#include "platform/linux/wmi/print_system.h"
#include "platform/linux/wmi/service_manager.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

namespace tavo::linuxwmi {

std::filesystem::path SystemContext::path(std::string_view absolute) const {
    while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
    return root / std::filesystem::path(absolute);
}

std::optional<std::string> SystemContext::readFile(std::string_view absolute,
                                                   std::size_t limit) const {
    std::ifstream in(path(absolute), std::ios::binary);
    if (!in) return std::nullopt;
    std::string data;
    char buf[65536];
    while (data.size() < limit && in.read(buf, sizeof buf), in.gcount() > 0) {
        data.append(buf, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) return std::nullopt;
    if (data.size() > limit) data.resize(limit);
    return data;
}

std::optional<std::string> SystemContext::readLine(std::string_view absolute) const {
    std::ifstream in(path(absolute));
    if (!in) return std::nullopt;
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    return line;
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
