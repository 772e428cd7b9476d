#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

struct PasswdEntry {
    std::string name, password, gecos, home, shell;
    std::uint32_t uid = 0, gid = 0;
};

struct ShadowEntry {
    std::string name, password;
    std::optional<std::int64_t> minDays, maxDays, expireDay;
};

struct GroupEntry {
    std::string name;
    std::uint32_t gid = 0;
};

// The account files' lines that name an account; comments, NIS "+"/"-"
// lines and lines with missing or non-numeric fields are left out.
std::vector<PasswdEntry> parsePasswd(std::string_view text);
std::vector<ShadowEntry> parseShadow(std::string_view text);
std::vector<GroupEntry> parseGroup(std::string_view text);

// The person's name in a GECOS field: its first comma-separated part, with
// "&" standing for the login name capitalised, as finger reads it.
std::string fullNameFromGecos(std::string_view gecos, std::string_view login);

// Win32_UserAccount from /etc/passwd and, where readable, /etc/shadow.
std::vector<Instance> produceUserAccounts(const SystemContext& ctx);
// Win32_Group from /etc/group.
std::vector<Instance> produceGroups(const SystemContext& ctx);
// Win32_Account: the users, then the groups, each of its own class.
std::vector<Instance> produceAccounts(const SystemContext& ctx);

}  // namespace tavo::linuxwmi
