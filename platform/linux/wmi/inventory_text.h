#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/system_context.h"

// The sysfs and directory readers shared by the inventory classes (battery,
// memory, programs, accounts, disks, shares); their text helpers are
// support/text.h.
namespace tavo::linuxwmi::inventory {

// A sysfs attribute: its first line, trimmed; nothing when it is missing,
// unreadable or empty.
std::optional<std::string> readAttribute(const SystemContext& ctx, const std::string& path);
std::optional<std::uint64_t> readUnsignedAttribute(const SystemContext& ctx,
                                                   const std::string& path);
std::optional<std::int64_t> readSignedAttribute(const SystemContext& ctx, const std::string& path);

// The entries of a directory under the context's root, sorted by name; empty
// when it is missing or unreadable.
std::vector<std::string> listDirectory(const SystemContext& ctx, std::string_view absolute);

}  // namespace tavo::linuxwmi::inventory
