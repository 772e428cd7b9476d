#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/lost_values.h"
#include "platform/linux/wmi/system_view.h"

namespace tavo::linuxwmi {

// What a read takes of a file unless it says otherwise.
inline constexpr std::size_t kDefaultReadLimit = 16 * 1024 * 1024;

// What is not a plain file sits behind these small interfaces, so tests can
// replace them. Each is declared in its own header beside the classes that use it.
class FsProbe;         // statvfs with a deadline (fs_probe.h)
class NetProbe;        // interfaces and addresses (net_probe.h)
class PrintSystem;     // CUPS destinations and jobs (print_system.h)
class ServiceManager;  // systemd's live unit state over D-Bus (service_manager.h)

// Everything a class provider reads: the system view (this machine's files
// under `root`, "/" normally and a fixture tree in tests, unless `view` names
// another) and the probes above. A probe left null means the source is
// absent; its classes then answer with what the files give. Classes read
// only through here, never the machine they run on directly.
struct SystemContext {
    std::filesystem::path root = "/";
    // Another computer's view; null means this machine under `root`.
    std::shared_ptr<const SystemView> view;
    // Every source that can block answers within this or its values stay null.
    std::chrono::milliseconds deadline{2000};
    std::shared_ptr<FsProbe> fs;
    std::shared_ptr<NetProbe> net;
    std::shared_ptr<PrintSystem> printing;
    std::shared_ptr<ServiceManager> services;
    // Where a pass counts the values it could not read; null: not counted.
    std::shared_ptr<LostValues> lost;

    // Counts one value this pass could not read (see LostValues).
    void lose(LostValues::Why why, std::string what) const {
        if (lost) lost->add(why, std::move(what));
    }

    // `absolute` ("/proc/meminfo") under root.
    std::filesystem::path path(std::string_view absolute) const;
    // Whole file, or nothing when it cannot be read or is not a regular file
    // (a FIFO, device or socket is refused without waiting). Reads at most
    // `limit` bytes.
    std::optional<std::string> readFile(std::string_view absolute,
                                        std::size_t limit = kDefaultReadLimit) const;
    // The same for a file that another user controls (in a home folder): a
    // symbolic link is refused too, so no one can point this program at a
    // file that only it may read.
    std::optional<std::string> readUserFile(std::string_view absolute,
                                            std::size_t limit = 1024 * 1024) const;
    // First line without its line break, or nothing.
    std::optional<std::string> readLine(std::string_view absolute) const;

    // The view the reads below go to.
    std::shared_ptr<const SystemView> system() const;
    std::optional<std::vector<DirEntry>> list(std::string_view dir) const;
    // Just the names of a directory's entries, sorted; empty when it cannot be listed.
    std::vector<std::string> names(std::string_view dir) const;
    std::optional<std::string> readLink(std::string_view absolute) const;
    FileType type(std::string_view absolute, bool followLinks = true) const;
    bool exists(std::string_view absolute) const {
        const FileType t = type(absolute, true);
        return t != FileType::None && t != FileType::Unknown;
    }
    std::optional<std::string> canonical(std::string_view absolute) const;

    // This computer's name as the service reports it (CSName, SystemName):
    // the host name in upper case, like a Windows computer name.
    std::string computerName() const;

    // The context for this machine, with the real probes.
    static SystemContext forThisMachine();
};

}  // namespace tavo::linuxwmi
