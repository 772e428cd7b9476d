#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "netenum/wnet_api.h"

namespace tavo::netenum {

// One resource met during the walk, as the enumeration call described it. A
// text the call left null stays unset, so a container is handed back to the
// open call exactly as it was reported.
struct NetworkResource {
    DWORD dwScope = 0;
    DWORD dwType = 0;
    DWORD dwDisplayType = 0;
    DWORD dwUsage = 0;
    std::optional<std::string> lpLocalName;
    std::optional<std::string> lpRemoteName;
    std::optional<std::string> lpComment;
    std::optional<std::string> lpProvider;
};

// How far one walk may go. A container that lists itself, or a network too
// large to read in one sitting, must not keep the window waiting forever:
// whatever was found when a limit is reached is what gets listed.
struct WalkLimits {
    std::chrono::milliseconds deadline{std::chrono::seconds(30)};
    std::size_t maxRecords = 100000;
    // Repeats of "more data" that return nothing before a container is given up.
    int maxEmptyRepeats = 3;
};

}  // namespace tavo::netenum

namespace tavo {

// Walks the whole tree of network resources the user can see, breadth first,
// and sorts their remote names into text lists by display type. It knows
// nothing of the window or the grid.
class CNetworkEnum {
  public:
    explicit CNetworkEnum(netenum::WNetApi& api, netenum::WalkLimits limits = {});
    CNetworkEnum(const CNetworkEnum&) = delete;
    CNetworkEnum& operator=(const CNetworkEnum&) = delete;

    void Reset();
    void SetResourceType(std::int32_t lResourceType);
    std::int32_t GetResourceType() const;
    std::string GetLocalUserName() const;
    std::string GetLocalMachineName() const;
    std::string GetServerList() const;
    std::string GetShareList() const;
    std::string GetPrinterList() const;
    std::string GetDirectoryList() const;
    std::string GetDomainList() const;
    std::string GetFileList() const;
    std::string GetGenericList() const;
    std::string GetGroupList() const;
    std::string GetNetworkList() const;
    std::string GetRootList() const;
    std::string GetShareAdminList() const;

    // Records the area holds and the size every enumeration call is told it
    // has: the index of the last record times the record size, halved.
    static constexpr std::size_t kBufferRecords = 257;
    static constexpr DWORD kRequestSize =
        static_cast<DWORD>((kBufferRecords - 1) * sizeof(NETRESOURCEA) / 2);

  private:
    void ReadLocalNames();
    void BuildLists();

    // Reads one open container into the table; false when the walk must stop
    // (deadline passed or table full).
    bool readContainer(HANDLE h, std::chrono::steady_clock::time_point deadline);
    void takeRecords(DWORD count);

    std::string userName_;
    std::string machineName_;
    std::string serverList_;
    std::string printerList_;
    std::string shareList_;
    std::string directoryList_;
    std::string domainList_;
    std::string fileList_;
    std::string genericList_;
    std::string groupList_;
    std::string networkList_;
    std::string rootList_;
    std::string shareAdminList_;
    std::int32_t resourceType_ = 0;
    // Raw records in the platform's own layout and size, so the stride
    // matches what the call writes on any word size.
    std::unique_ptr<NETRESOURCEA[]> buffer_;
    std::vector<netenum::NetworkResource> table_;

    netenum::WNetApi& api_;
    netenum::WalkLimits limits_;
};

}  // namespace tavo
