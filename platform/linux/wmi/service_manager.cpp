#include "platform/linux/wmi/service_manager.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>

#include <string_view>

#include "cycle/deadline.h"

namespace tavo::linuxwmi {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";

struct BusDeleter {
    void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageDeleter>;

// Microseconds left until `end`, at least 1 so that sd-bus never reads 0 as
// "use the default timeout" (25 s).
std::uint64_t usecLeft(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now());
    return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 1;
}

BusPtr connect(const std::string& address) {
    sd_bus* raw = nullptr;
    if (address.empty()) {
        if (sd_bus_open_system(&raw) < 0) return nullptr;
        return BusPtr(raw);
    }
    if (sd_bus_new(&raw) < 0) return nullptr;
    BusPtr bus(raw);
    if (sd_bus_set_address(raw, address.c_str()) < 0) return nullptr;
    if (sd_bus_start(raw) < 0) return nullptr;
    return bus;
}

MessagePtr call(sd_bus* bus, const char* path, const char* interface, const char* member,
                Clock::time_point end, const char* argTypes = nullptr, const char* a1 = nullptr,
                const char* a2 = nullptr) {
    sd_bus_message* m = nullptr;
    if (sd_bus_message_new_method_call(bus, &m, kDestination, path, interface, member) < 0) {
        return nullptr;
    }
    MessagePtr msg(m);
    if (argTypes && sd_bus_message_append(m, argTypes, a1, a2) < 0) return nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_call(bus, m, usecLeft(end), &error, &reply);
    sd_bus_error_free(&error);
    if (r < 0) return nullptr;
    return MessagePtr(reply);
}

// One property through org.freedesktop.DBus.Properties.Get; `type` is the
// variant's basic type ('u', 'i', 'b').
template <typename T>
std::optional<T> property(sd_bus* bus, const char* path, const char* interface, const char* name,
                          char type, Clock::time_point end) {
    MessagePtr reply =
        call(bus, path, "org.freedesktop.DBus.Properties", "Get", end, "ss", interface, name);
    if (!reply) return std::nullopt;
    const char contents[2] = {type, '\0'};
    if (sd_bus_message_enter_container(reply.get(), 'v', contents) <= 0) return std::nullopt;
    T value{};
    if (sd_bus_message_read_basic(reply.get(), type, &value) <= 0) return std::nullopt;
    return value;
}

bool isServiceUnit(std::string_view name) {
    constexpr std::string_view suffix = ".service";
    return name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
}

std::optional<std::vector<UnitStatus>> queryManager(const std::string& address,
                                                    Clock::time_point end) {
    BusPtr bus = connect(address);
    if (!bus) return std::nullopt;
    MessagePtr reply =
        call(bus.get(), kManagerPath, "org.freedesktop.systemd1.Manager", "ListUnits", end);
    if (!reply) return std::nullopt;

    sd_bus_message* m = reply.get();
    if (sd_bus_message_enter_container(m, 'a', "(ssssssouso)") <= 0) return std::nullopt;
    std::vector<UnitStatus> units;
    std::vector<std::string> paths;
    for (;;) {
        const char *name, *description, *load, *active, *sub, *following, *path, *jobType, *jobPath;
        std::uint32_t jobId = 0;
        const int r = sd_bus_message_read(m, "(ssssssouso)", &name, &description, &load, &active,
                                          &sub, &following, &path, &jobId, &jobType, &jobPath);
        if (r < 0) return std::nullopt;
        if (r == 0) break;
        units.push_back(UnitStatus{name, description, load, active, sub, {}, {}, {}});
        paths.emplace_back(path);
    }

    // The main PID and exit status are not in the listing: ask each loaded
    // service for them while time remains, leaving the rest unknown.
    for (std::size_t i = 0; i < units.size(); ++i) {
        UnitStatus& u = units[i];
        if (!isServiceUnit(u.name) || u.loadState != "loaded") continue;
        if (Clock::now() >= end) break;
        const char* p = paths[i].c_str();
        u.mainPid = property<std::uint32_t>(bus.get(), p, "org.freedesktop.systemd1.Service",
                                            "MainPID", 'u', end);
        u.exitStatus = property<std::int32_t>(bus.get(), p, "org.freedesktop.systemd1.Service",
                                              "ExecMainStatus", 'i', end);
        if (auto b =
                property<int>(bus.get(), p, "org.freedesktop.systemd1.Unit", "CanStop", 'b', end)) {
            u.canStop = *b != 0;
        }
    }
    return units;
}

class SystemdManager : public ServiceManager {
  public:
    explicit SystemdManager(std::string address) : address_(std::move(address)) {}

    std::optional<std::vector<UnitStatus>> listUnits(std::chrono::milliseconds deadline) override {
        // Not booted with systemd: there is no manager to ask, and a bus
        // daemon could otherwise try to start one on our behalf.
        if (address_.empty() && sd_booted() <= 0) return std::nullopt;

        // The query runs on a worker so that a bus that accepts the
        // connection and then never answers cannot hold the pass. The worker
        // stops asking for per-unit details a little before the deadline, so
        // that a slow but live manager still delivers its list.
        const Clock::time_point workEnd = Clock::now() + deadline * 4 / 5;
        auto listed = callWithDeadline(
            deadline, [address = address_, workEnd] { return queryManager(address, workEnd); });
        if (!listed) return std::nullopt;
        return std::move(*listed);
    }

  private:
    std::string address_;
};

}  // namespace

std::shared_ptr<ServiceManager> makeSystemdManager() {
    return std::make_shared<SystemdManager>(std::string());
}

std::shared_ptr<ServiceManager> makeSystemdManagerAt(std::string address) {
    return std::make_shared<SystemdManager>(std::move(address));
}

}  // namespace tavo::linuxwmi
