#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavo::linuxwmi {

// The live state of one unit as the service manager holds it.
struct UnitStatus {
    std::string name;         // "ssh.service"
    std::string description;  // the unit's Description=
    std::string loadState;    // "loaded", "not-found", "masked" ...
    std::string activeState;  // "active", "inactive", "failed", "activating" ...
    std::string subState;     // "running", "exited", "dead" ...
    // Service units only; missing when the manager did not say in time.
    std::optional<std::uint32_t> mainPid;
    std::optional<std::int32_t> exitStatus;
    std::optional<bool> canStop;
};

// The running service manager. Files on disk say which services exist and
// how they start; only the manager knows which ones run right now.
class ServiceManager {
  public:
    virtual ~ServiceManager() = default;
    // Every unit the manager has loaded, or nothing when no manager answers
    // within `deadline` (not running, no bus, or hung).
    virtual std::optional<std::vector<UnitStatus>> listUnits(
        std::chrono::milliseconds deadline) = 0;
};

// systemd on the system bus. Answers nothing on a machine not booted with
// systemd (a container, a chroot) without touching the bus.
std::shared_ptr<ServiceManager> makeSystemdManager();
// systemd's manager interface at a D-Bus address reached directly, without a
// bus daemon in between ("unix:path=..."); lets tests serve a manager of their own.
std::shared_ptr<ServiceManager> makeSystemdManagerAt(std::string address);

}  // namespace tavo::linuxwmi
