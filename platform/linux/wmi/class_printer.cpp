#include <algorithm>

#include "platform/linux/wmi/print_system.h"
#include "platform/linux/wmi/system_classes.h"

namespace tavo::linuxwmi {

namespace {

// What an IPP state reason says, with its severity suffix split off.
struct Reason {
    std::string keyword;
    enum Severity { Report, Warning, Error } severity;
};

Reason splitReason(const std::string& r) {
    for (const auto& [suffix, sev] :
         {std::pair{"-report", Reason::Report}, std::pair{"-warning", Reason::Warning},
          std::pair{"-error", Reason::Error}}) {
        const std::string s = suffix;
        if (r.size() > s.size() && r.compare(r.size() - s.size(), s.size(), s) == 0) {
            return {r.substr(0, r.size() - s.size()), sev};
        }
    }
    // IPP reads a reason without a suffix as an error.
    return {r, Reason::Error};
}

bool isAny(const std::string& k, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return k == n; });
}

// Reasons CUPS itself raises without a suffix while all is well.
bool isHarmless(const std::string& k) {
    return isAny(k, {"paused", "moving-to-paused", "connecting-to-device",
                     "cups-waiting-for-job-completed", "cups-remote-pending",
                     "cups-remote-pending-held", "hold-new-jobs", "printer-restarted",
                     "printer-nms-reset"}) ||
           k.starts_with("cups-ipp-") || k.starts_with("com.");
}

struct Assessment {
    int printerStatus = 2;  // 2 unknown until the state is known
    int extendedStatus = 2;
    int detectedError = 2;           // no error
    std::uint32_t windowsState = 0;  // PRINTER_STATUS_* bits
    std::string status = "OK";
    bool offline = false;
};

// Windows' PRINTER_STATUS_* flags, which is what its PrinterState carries.
constexpr std::uint32_t kPaused = 0x1, kError = 0x2, kPaperJam = 0x8, kPaperOut = 0x10,
                        kOffline = 0x80, kPrinting = 0x400, kOutputBinFull = 0x800,
                        kTonerLow = 0x20000, kNoToner = 0x40000, kDoorOpen = 0x400000;

Assessment assess(const PrinterRecord& p) {
    Assessment a;
    switch (p.state) {
        case PrinterState::Idle:
            a.printerStatus = a.extendedStatus = 3;
            break;
        case PrinterState::Processing:
            a.printerStatus = a.extendedStatus = 4;
            a.windowsState |= kPrinting;
            break;
        case PrinterState::Stopped:
            // A stopped queue takes jobs but prints none: paused by its
            // administrator or stopped by CUPS after a device failure.
            a.printerStatus = 1;
            a.extendedStatus = 8;
            a.windowsState |= kPaused;
            a.status = "Degraded";
            break;
        case PrinterState::Unknown:
            break;
    }
    bool warning = false;
    bool error = false;
    for (const auto& raw : p.stateReasons) {
        const Reason r = splitReason(raw);
        const std::string& k = r.keyword;
        if (k == "offline" || k == "shutdown" || k == "timed-out") {
            // CUPS reports a printer it cannot reach as offline-report.
            a.offline = true;
            a.windowsState |= kOffline;
            a.detectedError = 9;
            continue;
        }
        if (r.severity == Reason::Report) continue;
        int detected = 0;
        if (k == "media-low") {
            detected = 3;
        } else if (isAny(k, {"media-empty", "media-needed"})) {
            detected = 4;
            a.windowsState |= kPaperOut;
        } else if (isAny(k, {"toner-low", "marker-supply-low"})) {
            detected = 5;
            a.windowsState |= kTonerLow;
        } else if (isAny(k, {"toner-empty", "marker-supply-empty"})) {
            detected = 6;
            a.windowsState |= kNoToner;
        } else if (isAny(k, {"door-open", "cover-open", "interlock-open"})) {
            detected = 7;
            a.windowsState |= kDoorOpen;
        } else if (k == "media-jam") {
            detected = 8;
            a.windowsState |= kPaperJam;
        } else if (k == "output-area-full") {
            detected = 11;
            a.windowsState |= kOutputBinFull;
        } else if (isHarmless(k)) {
            continue;
        } else if (r.severity == Reason::Error) {
            detected = 1;  // some other fault
        }
        if (r.severity == Reason::Error) {
            error = true;
            a.windowsState |= kError;
        } else {
            warning = true;
        }
        if (detected != 0 && (a.detectedError == 2 || r.severity == Reason::Error)) {
            a.detectedError = detected;
        }
    }
    if (a.offline) {
        a.printerStatus = a.extendedStatus = 7;
    }
    if (error) {
        a.status = "Error";
        if (!a.offline) a.extendedStatus = 9;
    } else if (warning || a.offline) {
        if (a.status == "OK") a.status = "Degraded";
    }
    return a;
}

}  // namespace

std::vector<Instance> printerInstances(const SystemContext& ctx) {
    if (!ctx.printing) return {};
    auto printers = ctx.printing->printers(ctx.deadline);
    // No answer in time, or no print service running: no printers, no error.
    if (!printers) return {};

    const std::string computer = ctx.computerName();
    std::vector<Instance> out;
    for (const PrinterRecord& p : *printers) {
        Instance pr("Win32_Printer");
        pr.set("DeviceID", p.name);
        pr.set("Name", p.name);
        pr.set("Caption", p.name);
        pr.set("CreationClassName", "Win32_Printer");
        pr.set("SystemCreationClassName", "Win32_ComputerSystem");
        pr.set("SystemName", computer);
        if (p.info) pr.set("Description", *p.info);
        if (p.location) pr.set("Location", *p.location);
        if (p.makeAndModel) pr.set("DriverName", *p.makeAndModel);
        if (p.deviceUri) pr.set("PortName", *p.deviceUri);

        // CUPS spools and queues every job; nothing goes to the device directly.
        pr.set("SpoolEnabled", true);
        pr.set("Queued", true);
        pr.set("Direct", false);
        pr.set("Default", p.isDefault);

        std::uint32_t attributes = 0x1 /* queued */;
        if (p.isDefault) attributes |= 0x4;
        if (p.shared) {
            pr.set("Shared", *p.shared);
            if (*p.shared) {
                // Other computers reach a shared queue under its own name.
                pr.set("ShareName", p.name);
                attributes |= 0x8;
            }
        }
        if (p.remote) {
            pr.set("Network", *p.remote);
            pr.set("Local", !*p.remote);
            attributes |= *p.remote ? 0x10 : 0x40;
        }
        if (p.resolutionX && p.resolutionY) {
            pr.setInt("HorizontalResolution", *p.resolutionX);
            pr.setInt("VerticalResolution", *p.resolutionY);
        }
        if (p.copiesDefault) pr.setInt("DefaultCopies", *p.copiesDefault);
        if (p.priorityDefault) pr.setInt("DefaultPriority", *p.priorityDefault);
        if (p.formatDefault) pr.set("DefaultMimeType", *p.formatDefault);
        if (!p.formatsSupported.empty()) {
            wmi::Value::Array types;
            for (const auto& f : p.formatsSupported) types.emplace_back(f);
            pr.set("MimeTypesSupported", std::move(types));
        }

        if (p.state != PrinterState::Unknown) {
            const Assessment a = assess(p);
            pr.setInt("PrinterStatus", a.printerStatus);
            pr.setInt("ExtendedPrinterStatus", a.extendedStatus);
            pr.setInt("DetectedErrorState", a.detectedError);
            pr.setInt("PrinterState", a.windowsState);
            pr.set("Status", a.status);
            pr.set("WorkOffline", a.offline);
            if (a.offline) attributes |= 0x400;
            if (a.status != "OK" && p.stateMessage && !p.stateMessage->empty()) {
                pr.set("ErrorDescription", *p.stateMessage);
            }
        }
        pr.setInt("Attributes", attributes);
        out.push_back(std::move(pr));
    }
    return out;
}

}  // namespace tavo::linuxwmi
