#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/system_context.h"

// Small text helpers shared by the inventory classes (battery, memory,
// programs, accounts, disks, shares).
namespace tavo::linuxwmi::inventory {

std::string_view trim(std::string_view s);
// Splits on every `sep`, keeping empty fields ("a::b" gives three).
std::vector<std::string_view> split(std::string_view s, char sep);
// A whole decimal number with nothing around it but white space, or nothing.
std::optional<std::uint64_t> parseUnsigned(std::string_view s);
std::optional<std::int64_t> parseSigned(std::string_view s);
bool startsWith(std::string_view s, std::string_view prefix);
std::string toLower(std::string_view s);

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
