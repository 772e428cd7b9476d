#include "platform/linux/wmi/inventory_classes.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "platform/linux/wmi/inventory_text.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

void assignField(DpkgPackage& p, std::string_view key, std::string_view value) {
    // Field names are case-insensitive in control files, but dpkg writes
    // the status file with its canonical spelling, so an exact match holds.
    if (key == "Package") {
        p.name = value;
    } else if (key == "Version") {
        p.version = value;
    } else if (key == "Architecture") {
        p.architecture = value;
    } else if (key == "Maintainer") {
        p.maintainer = value;
    } else if (key == "Description") {
        p.summary = value;
    } else if (key == "Homepage") {
        p.homepage = value;
    } else if (key == "Origin") {
        p.origin = value;
    } else if (key == "Status") {
        // "want flag state": install ok installed, deinstall ok config-files...
        const std::size_t last = value.rfind(' ');
        p.state = last == std::string_view::npos ? value : value.substr(last + 1);
    }
}

// InstallState for the package's dpkg state; nothing for packages whose
// files are gone (removed with configuration kept, or never installed).
std::optional<std::int64_t> installState(std::string_view state) {
    if (state == "installed" || state == "triggers-awaited" || state == "triggers-pending")
        return 5;
    // Unpacked but not (fully) configured, or a failed installation: on
    // disk but broken, which the class calls a bad configuration.
    if (state == "unpacked" || state == "half-configured" || state == "half-installed") return -6;
    return std::nullopt;
}

}  // namespace

std::vector<DpkgPackage> parseDpkgStatus(std::string_view text) {
    std::vector<DpkgPackage> out;
    DpkgPackage current;
    const auto flush = [&] {
        if (!current.name.empty()) out.push_back(current);
        current = DpkgPackage{};
    };
    for (std::string_view line : text::splitLines(text)) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        if (text::trim(line).empty()) {
            flush();  // a blank line ends the record
            continue;
        }
        if (line.front() == ' ' || line.front() == '\t') continue;  // continuation line
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        assignField(current, line.substr(0, colon), text::trim(line.substr(colon + 1)));
    }
    flush();
    return out;
}

std::vector<Instance> produceProducts(const SystemContext& ctx) {
    std::vector<Instance> out;
    const auto status = ctx.readFile("/var/lib/dpkg/status", std::size_t{1} << 30);
    if (!status) return out;
    const schema::ClassDef& cls = *schema::findClass("Win32_Product");
    const std::string info = "/var/lib/dpkg/info/";
    const auto view = ctx.system();

    for (const DpkgPackage& pkg : parseDpkgStatus(*status)) {
        const auto state = installState(pkg.state);
        if (!state) continue;
        Instance p(cls);
        const std::string name(pkg.name);
        p.set("Name", name);
        p.set("PackageName", name);
        if (!pkg.version.empty()) p.set("Version", std::string(pkg.version));
        if (!pkg.maintainer.empty()) p.set("Vendor", std::string(pkg.maintainer));
        if (!pkg.summary.empty()) {
            p.set("Description", std::string(pkg.summary));
            p.set("Caption", std::string(pkg.summary));
        }
        if (!pkg.architecture.empty()) {
            p.set("IdentifyingNumber", name + ":" + std::string(pkg.architecture));
        } else {
            p.set("IdentifyingNumber", name);
        }
        if (!pkg.homepage.empty()) p.set("URLInfoAbout", std::string(pkg.homepage));
        if (!pkg.origin.empty()) p.set("InstallSource", std::string(pkg.origin));
        p.setInt("InstallState", *state);

        // The file list is written when the package is unpacked, so its time
        // is the install (or last upgrade) time. Packages that may be
        // installed for several architectures name it "name:arch.list".
        std::optional<Timestamp> listed;
        if (!pkg.architecture.empty())
            listed =
                view->modifiedTime(info + name + ":" + std::string(pkg.architecture) + ".list");
        if (!listed) listed = view->modifiedTime(info + name + ".list");
        if (listed) {
            // The day in the computer's own local time, as the datetime says it.
            const std::string when = view->dmtfLocal(listed->seconds, listed->microseconds);
            p.set("InstallDate", when.substr(0, 8));
            p.set("InstallDate2", when);
        }
        out.push_back(std::move(p));
    }
    return out;
}

}  // namespace tavo::linuxwmi
