#pragma once

#include <optional>
#include <string>

#include "collectors/management.h"

// What the choices of the target computer menu compute.
namespace tavo::target {

// This computer's name for the target field: COMPUTERNAME where it is set and
// not empty (it is set on Windows, rarely on Linux), else the host name, and
// "" only where neither exists.
std::string localComputerName();

// The query sent for the primary DNS server.
inline constexpr const char* kDnsAdapterQuery =
    "Select * from Win32_NetworkAdapterConfiguration Where IPEnabled = True";

// Entry 0 of the DNS server list of the first IP-enabled adapter of
// `computer` that has such a list, in the order the service returns the
// adapters; nothing when no adapter has one. A failed connection, query or
// read throws tavo::Error.
std::optional<std::string> primaryDnsServer(wmi::ConnectionFactory& management,
                                            const std::string& computer);

}  // namespace tavo::target
