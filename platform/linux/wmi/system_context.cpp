#include "platform/linux/wmi/system_context.h"

#include "platform/linux/wmi/fs_probe.h"
#include "platform/linux/wmi/net_probe.h"
#include "platform/linux/wmi/print_system.h"
#include "platform/linux/wmi/service_manager.h"
#include "support/text.h"

#include <algorithm>
#include <cctype>

namespace tavo::linuxwmi {

std::filesystem::path SystemContext::path(std::string_view absolute) const {
    while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
    return root / std::filesystem::path(absolute);
}

std::shared_ptr<const SystemView> SystemContext::system() const {
    if (view) return view;
    // Every read of a local pass comes through here: the running machine's
    // view is made once, a fixture tree's (tests) each time.
    static const std::shared_ptr<const SystemView> running = makeLocalView("/");
    return root == "/" ? running : makeLocalView(root.string());
}

std::optional<std::string> SystemContext::readFile(std::string_view absolute,
                                                   std::size_t limit) const {
    return system()->readFile(absolute, limit);
}

std::optional<std::string> SystemContext::readUserFile(std::string_view absolute,
                                                       std::size_t limit) const {
    return system()->readUserFile(absolute, limit);
}

std::optional<std::vector<DirEntry>> SystemContext::list(std::string_view dir) const {
    return system()->list(dir);
}

std::vector<std::string> SystemContext::names(std::string_view dir) const {
    std::vector<std::string> out;
    if (auto entries = list(dir)) {
        out.reserve(entries->size());
        for (auto& e : *entries) out.push_back(std::move(e.name));
    }
    return out;
}

std::optional<std::string> SystemContext::readLink(std::string_view absolute) const {
    return system()->readLink(absolute);
}

FileType SystemContext::type(std::string_view absolute, bool followLinks) const {
    return system()->type(absolute, followLinks);
}

std::optional<std::string> SystemContext::canonical(std::string_view absolute) const {
    return system()->canonical(absolute);
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
    } else if (auto h = system()->hostName()) {
        name = *h;
    }
    return text::toUpper(name);
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
