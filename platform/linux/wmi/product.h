#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

// One package record of the dpkg database, with the fields the programs
// list shows. Views point into the text that was parsed.
struct DpkgPackage {
    std::string_view name, version, architecture, maintainer, summary, homepage, origin;
    std::string_view state;  // third word of Status: "installed", "config-files"...
};

// Every record of a dpkg status file, in file order. Continuation lines of
// multi-line fields are skipped except that Description keeps its first line.
std::vector<DpkgPackage> parseDpkgStatus(std::string_view text);

// Win32_Product: one per package present on the system, from
// /var/lib/dpkg/status and the install time of its file list in
// /var/lib/dpkg/info.
std::vector<Instance> produceProducts(const SystemContext& ctx);

}  // namespace tavo::linuxwmi
