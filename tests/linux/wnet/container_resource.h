#pragma once

// The NETRESOURCE a caller hands WNetOpenEnum to list what a container
// (a domain or a server) holds.

#include "platform/linux/wnet/resource_tree.h"

namespace tavo::testing {

inline NETRESOURCEA containerResource(DWORD displayType, const char* remoteName,
                                      const char* provider) {
    NETRESOURCEA r{};
    r.dwDisplayType = displayType;
    r.dwUsage = RESOURCEUSAGE_CONTAINER;
    r.lpRemoteName = const_cast<LPSTR>(remoteName);
    r.lpProvider = const_cast<LPSTR>(provider);
    return r;
}

}  // namespace tavo::testing
