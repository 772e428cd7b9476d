#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/system_context.h"

// The raw SMBIOS tables (/sys/firmware/dmi/tables, readable by root only):
// what /sys/class/dmi/id leaves out, such as the processor's family code,
// its CPUID signature and socket name, or the board's feature flags.
namespace tavo::linuxwmi {

struct SmbiosStructure {
    std::uint8_t type = 0;
    std::string formatted;             // the formatted area, header included
    std::vector<std::string> strings;  // the string set; field value n is strings[n-1]

    std::optional<std::uint8_t> byteAt(std::size_t offset) const;
    std::optional<std::uint16_t> wordAt(std::size_t offset) const;
    std::optional<std::uint32_t> dwordAt(std::size_t offset) const;
    std::optional<std::uint64_t> qwordAt(std::size_t offset) const;
    // The string a field at `offset` names; nothing for index 0 or a bad index.
    std::optional<std::string> stringAt(std::size_t offset) const;
};

// Every structure of a table, up to the end-of-table marker (type 127) or
// the last whole structure. A truncated or malformed tail is dropped.
std::vector<SmbiosStructure> parseSmbiosTable(std::string_view data);

// SMBIOS major and minor version from a 32-bit ("_SM_") or 64-bit ("_SM3_")
// entry point.
std::optional<std::pair<int, int>> parseSmbiosVersion(std::string_view entryPoint);

// The machine's table, empty when not readable.
std::vector<SmbiosStructure> readSmbiosTable(const SystemContext& ctx);

}  // namespace tavo::linuxwmi
