#include "target/target_computer.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <unistd.h>
#endif

#include "collectors/value.h"

namespace tavo::target {

namespace {

std::string hostName() {
#ifdef _WIN32
    char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof buffer;
    if (!GetComputerNameA(buffer, &size)) return {};
    return std::string(buffer, size);
#else
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return std::string(buffer);
#endif
}

}  // namespace

std::string localComputerName() {
    if (const char* name = std::getenv("COMPUTERNAME"); name && *name) return name;
    return hostName();
}

std::optional<std::string> primaryDnsServer(wmi::ConnectionFactory& management,
                                            const std::string& computer) {
    // Declared in this order so the result set is released before the connection.
    auto connection = management.connect(wmi::monikerFor(computer));
    auto adapters = connection->execQuery(kDnsAdapterQuery);
    while (auto adapter = adapters->next()) {
        const wmi::Value servers = adapter->get("DNSServerSearchOrder");
        // An adapter without servers reports null; an empty list says the same.
        if (servers.isNull() || servers.isEmpty()) continue;
        if (servers.isArray() && servers.array().empty()) continue;
        return wmi::toText(adapter->getAt("DNSServerSearchOrder", 0));
    }
    return std::nullopt;
}

}  // namespace tavo::target
