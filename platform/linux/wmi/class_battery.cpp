#include "platform/linux/wmi/inventory_classes.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/linux/wmi/inventory_text.h"

namespace tavo::linuxwmi {

namespace {

using inventory::readAttribute;
using inventory::readSignedAttribute;

// BatteryStatus by the class's value list. The kernel's "Not charging" and
// "Unknown" both mean the charger is connected but idle (a charge threshold,
// a full enough cell), which the list calls "Unknown (on AC power)".
std::optional<std::int64_t> batteryStatus(const std::string& status,
                                          const std::optional<std::string>& level) {
    if (status == "Discharging") {
        if (level == "Critical") return 5;
        if (level == "Low") return 4;
        return 1;
    }
    if (status == "Charging") {
        if (level == "Critical") return 9;
        if (level == "Low") return 8;
        if (level == "High") return 7;
        return 6;
    }
    if (status == "Full") return 3;
    if (status == "Not charging" || status == "Unknown") return 2;
    return std::nullopt;
}

// Chemistry codes: 1 Other, 2 Unknown, 3 Lead Acid, 4 Nickel Cadmium,
// 5 Nickel Metal Hydride, 6 Lithium-ion, 7 Zinc air, 8 Lithium Polymer.
std::optional<std::int64_t> chemistry(const std::string& technology) {
    if (technology == "Li-ion" || technology == "LiFe" || technology == "LiMn") return 6;
    if (technology == "Li-poly") return 8;
    if (technology == "NiMH") return 5;
    if (technology == "NiCd") return 4;
    if (technology == "Unknown") return 2;
    return 1;
}

// The kernel's health words, folded into the status texts Windows uses.
std::string healthStatus(const std::optional<std::string>& health) {
    if (!health || *health == "Good") return "OK";
    if (*health == "Unknown") return "Unknown";
    if (*health == "Dead" || *health == "Unspecified failure") return "Error";
    // Overheat, Cold, Over voltage, Over current, timer expiries, calibration.
    return "Degraded";
}

// Reads an attribute that is non-negative by nature; some drivers report
// current and power with a sign that only says the direction.
std::optional<std::uint64_t> magnitude(const SystemContext& ctx, const std::string& path) {
    const auto v = readSignedAttribute(ctx, path);
    if (!v) return std::nullopt;
    return static_cast<std::uint64_t>(std::llabs(*v));
}

struct Supply {
    const SystemContext& ctx;
    std::string dir;

    std::optional<std::string> text(const char* attr) const {
        return readAttribute(ctx, dir + "/" + attr);
    }
    std::optional<std::uint64_t> number(const char* attr) const {
        return magnitude(ctx, dir + "/" + attr);
    }
    // Design voltage in microvolts, which converts charge to energy.
    std::optional<std::uint64_t> designMicrovolts() const {
        if (auto v = number("voltage_min_design"); v && *v > 0) return v;
        if (auto v = number("voltage_max_design"); v && *v > 0) return v;
        return std::nullopt;
    }
    // An energy figure in mWh, from energy_<name> (µWh) or charge_<name>
    // (µAh at the design voltage).
    std::optional<std::uint64_t> milliwattHours(const std::string& name) const {
        if (auto e = number(("energy_" + name).c_str())) return *e / 1000;
        const auto c = number(("charge_" + name).c_str());
        const auto uv = designMicrovolts();
        if (c && uv) {
            return static_cast<std::uint64_t>(static_cast<long double>(*c) * *uv / 1e9L);
        }
        return std::nullopt;
    }
};

// Minutes until `remaining` (mWh or mAh worth) runs out at `rate` per hour.
std::optional<std::int64_t> minutesAt(std::optional<std::uint64_t> amount,
                                      std::optional<std::uint64_t> rate) {
    if (!amount || !rate || *rate == 0) return std::nullopt;
    return static_cast<std::int64_t>(*amount * 60 / *rate);
}

}  // namespace

std::vector<Instance> produceBatteries(const SystemContext& ctx) {
    std::vector<Instance> out;
    const std::string computer = ctx.computerName();
    for (const auto& name : inventory::listDirectory(ctx, "/sys/class/power_supply")) {
        const Supply s{ctx, "/sys/class/power_supply/" + name};
        if (s.text("type") != "Battery") continue;
        // A device's own battery (mouse, headset) is not the computer's.
        if (s.text("scope") == "Device") continue;
        // An empty battery bay is no battery.
        if (s.text("present") == "0") continue;

        Instance b("Win32_Battery");
        b.set("DeviceID", name);
        b.set("Name", s.text("model_name").value_or(name));
        b.set("Caption", "Internal Battery");
        b.set("Description", "Internal Battery");
        b.set("CreationClassName", "Win32_Battery");
        b.set("SystemCreationClassName", "Win32_ComputerSystem");
        b.set("SystemName", computer);
        b.set("Status", healthStatus(s.text("health")));

        const std::string status = s.text("status").value_or("");
        if (auto bs = batteryStatus(status, s.text("capacity_level")))
            b.setInt("BatteryStatus", *bs);
        if (auto tech = s.text("technology")) b.setInt("Chemistry", *chemistry(*tech));
        if (auto uv = s.designMicrovolts()) b.setUInt64("DesignVoltage", *uv / 1000);
        if (auto c = s.milliwattHours("full_design"))
            b.setInt("DesignCapacity", static_cast<std::int64_t>(*c));
        if (auto c = s.milliwattHours("full"))
            b.setInt("FullChargeCapacity", static_cast<std::int64_t>(*c));

        std::optional<std::uint64_t> percent = s.number("capacity");
        if (!percent) {
            const auto now = s.milliwattHours("now");
            const auto full = s.milliwattHours("full");
            if (now && full && *full > 0) percent = *now * 100 / *full;
        }
        if (percent)
            b.setInt("EstimatedChargeRemaining",
                     static_cast<std::int64_t>(std::min<std::uint64_t>(*percent, 100)));

        // Run time and time to full only mean something in their own state;
        // elsewhere the kernel's rates describe the other direction or nothing.
        if (status == "Discharging") {
            std::optional<std::int64_t> minutes;
            if (auto secs = s.number("time_to_empty_now"))
                minutes = static_cast<std::int64_t>(*secs / 60);
            if (!minutes) minutes = minutesAt(s.number("energy_now"), s.number("power_now"));
            if (!minutes) minutes = minutesAt(s.number("charge_now"), s.number("current_now"));
            if (minutes) b.setInt("EstimatedRunTime", *minutes);
        } else if (status == "Charging") {
            std::optional<std::int64_t> minutes;
            if (auto secs = s.number("time_to_full_now"))
                minutes = static_cast<std::int64_t>(*secs / 60);
            const auto missing = [&](const char* full,
                                     const char* now) -> std::optional<std::uint64_t> {
                const auto f = s.number(full);
                const auto n = s.number(now);
                if (!f || !n) return std::nullopt;
                return *f > *n ? *f - *n : 0;
            };
            if (!minutes)
                minutes = minutesAt(missing("energy_full", "energy_now"), s.number("power_now"));
            if (!minutes)
                minutes = minutesAt(missing("charge_full", "charge_now"), s.number("current_now"));
            if (minutes) b.setInt("TimeToFullCharge", *minutes);
        }

        // An ACPI battery's device carries its Plug and Play id and instance.
        const auto hid = readAttribute(ctx, s.dir + "/device/hid");
        const auto uid = readAttribute(ctx, s.dir + "/device/uid");
        if (hid && uid) b.set("PNPDeviceID", "ACPI\\" + *hid + "\\" + *uid);
        out.push_back(std::move(b));
    }
    return out;
}

}  // namespace tavo::linuxwmi
