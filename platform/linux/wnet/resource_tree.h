#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "netenum/wnet_api.h"

namespace tavo::linuxwnet {

// One resource as a back end describes it; the tree adds scope and provider.
struct Resource {
    DWORD type = RESOURCETYPE_ANY;
    DWORD displayType = RESOURCEDISPLAYTYPE_GENERIC;
    DWORD usage = 0;
    std::string remoteName;
    std::string comment;  // empty: none
};

// What a back end found inside one container: NO_ERROR with the children,
// or the code the open call reports.
struct Listing {
    DWORD status = NO_ERROR;
    std::vector<Resource> children;
};

// One back end: a source of network resources with its own name. Every call
// must come back in bounded time, whatever the network does.
class Provider {
  public:
    virtual ~Provider() = default;
    // The provider's name: its top-level record's remote name, and the
    // provider text of everything it reports.
    virtual std::string name() const = 0;
    // Whether the back end can answer now (its daemon reachable, its library
    // usable). Asked at every top-level open, so a daemon started later counts.
    virtual bool available() = 0;
    // The children of `parent`, a container this provider reported (its own
    // top-level record included, with display type network).
    virtual Listing children(const Resource& parent) = 0;
};

// The network tree over a set of providers, with the enumeration calls'
// own semantics: records laid out in the caller's area (records first,
// their strings packed from the end), ERROR_MORE_DATA while entries remain,
// ERROR_NO_MORE_ITEMS once all were handed out.
class ResourceTree : public netenum::WNetApi {
  public:
    explicit ResourceTree(std::vector<std::shared_ptr<Provider>> providers);
    ~ResourceTree() override;

    DWORD openEnum(DWORD scope, DWORD type, DWORD usage, NETRESOURCEA* resource,
                   HANDLE* handle) override;
    DWORD enumResource(HANDLE handle, DWORD* count, void* buffer, DWORD* bufferSize) override;
    DWORD closeEnum(HANDLE handle) override;
    std::string userName() override;
    std::string computerName() override;

  private:
    struct Item {
        Resource resource;
        std::string provider;
    };
    struct Enumeration {
        std::vector<Item> items;
        std::size_t next = 0;
    };

    std::shared_ptr<Provider> providerFor(const NETRESOURCEA& parent) const;
    HANDLE remember(std::unique_ptr<Enumeration> e);

    std::vector<std::shared_ptr<Provider>> providers_;
    std::mutex mutex_;
    std::set<Enumeration*> open_;  // handles handed out and not yet closed
};

}  // namespace tavo::linuxwnet
