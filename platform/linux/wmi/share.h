#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

struct ShareEntry {
    std::string name, path, description;
    std::uint32_t type = 0;                // 0 disk, 1 print queue, 3 IPC
    std::optional<std::uint32_t> maximum;  // empty: no limit
};

// The shares a Samba configuration defines, with [global]'s share settings
// as defaults, plus the IPC$ share Samba always serves. `readInclude` gives
// the text of an "include" file, or nothing; `hostName` stands for %h in the
// server string.
using IncludeReader = std::function<std::optional<std::string>(const std::string& path)>;
std::vector<ShareEntry> parseSmbConf(std::string_view text, const IncludeReader& readInclude = {},
                                     std::string_view hostName = {});

// The directories an NFS exports file shares, each named by its path and
// described by its clients and options.
std::vector<ShareEntry> parseExports(std::string_view text);

// Win32_Share: Samba's shares (/etc/samba/smb.conf) and NFS exports
// (/etc/exports, /etc/exports.d/*.exports). Neither present: no instances.
std::vector<Instance> produceShares(const SystemContext& ctx);

}  // namespace tavo::linuxwmi
