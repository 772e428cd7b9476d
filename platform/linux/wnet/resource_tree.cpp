#include "platform/linux/wnet/resource_tree.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace tavo::linuxwnet {

namespace {

constexpr DWORD kAllEntries = 0xFFFFFFFFu;

std::size_t textBytes(const std::string& s) {
    return s.empty() ? 0 : s.size() + 1;
}

std::size_t recordBytes(const Resource& r, const std::string& provider) {
    return sizeof(NETRESOURCEA) + textBytes(r.remoteName) + textBytes(r.comment) +
           textBytes(provider);
}

// Whether a record passes the caller's type and usage filters. Containers
// pass any type filter, since what they hold may still match.
bool wanted(const Resource& r, DWORD type, DWORD usage) {
    const bool isContainer = (r.usage & RESOURCEUSAGE_CONTAINER) != 0;
    if (type != RESOURCETYPE_ANY && !isContainer && r.type != type) return false;
    if (usage != 0 && (r.usage & usage) == 0) return false;
    return true;
}

}  // namespace

ResourceTree::ResourceTree(std::vector<std::shared_ptr<Provider>> providers)
    : providers_(std::move(providers)) {}

ResourceTree::~ResourceTree() {
    for (Enumeration* e : open_) delete e;
}

std::shared_ptr<Provider> ResourceTree::providerFor(const NETRESOURCEA& parent) const {
    // A provider's own record may come back without its provider text.
    const char* name = parent.lpProvider ? parent.lpProvider : parent.lpRemoteName;
    if (!name) return nullptr;
    for (const auto& p : providers_)
        if (p->name() == name) return p;
    return nullptr;
}

HANDLE ResourceTree::remember(std::unique_ptr<Enumeration> e) {
    std::lock_guard lock(mutex_);
    Enumeration* raw = e.release();
    open_.insert(raw);
    return raw;
}

DWORD ResourceTree::openEnum(DWORD scope, DWORD type, DWORD usage, NETRESOURCEA* resource,
                             HANDLE* handle) {
    if (!handle) return ERROR_INVALID_PARAMETER;
    // Only the browsable network is known here: there are no remembered or
    // connected drive letters to report.
    if (scope != RESOURCE_GLOBALNET) return ERROR_NOT_SUPPORTED;

    auto e = std::make_unique<Enumeration>();
    if (!resource) {
        for (const auto& p : providers_) {
            if (!p->available()) continue;
            Resource top;
            top.displayType = RESOURCEDISPLAYTYPE_NETWORK;
            top.usage = RESOURCEUSAGE_CONTAINER;
            top.remoteName = p->name();
            e->items.push_back({top, p->name()});
        }
        if (e->items.empty()) return ERROR_NO_NETWORK;
    } else {
        if (!(resource->dwUsage & RESOURCEUSAGE_CONTAINER)) return ERROR_NOT_CONTAINER;
        const auto provider = providerFor(*resource);
        if (!provider) return ERROR_BAD_NETPATH;
        Resource parent;
        parent.type = resource->dwType;
        parent.displayType = resource->dwDisplayType;
        parent.usage = resource->dwUsage;
        parent.remoteName = resource->lpRemoteName ? resource->lpRemoteName : "";
        parent.comment = resource->lpComment ? resource->lpComment : "";
        Listing listing = provider->children(parent);
        if (listing.status != NO_ERROR) return listing.status;
        for (Resource& r : listing.children)
            if (wanted(r, type, usage)) e->items.push_back({std::move(r), provider->name()});
    }
    *handle = remember(std::move(e));
    return NO_ERROR;
}

DWORD ResourceTree::enumResource(HANDLE handle, DWORD* count, void* buffer, DWORD* bufferSize) {
    std::lock_guard lock(mutex_);
    auto* e = static_cast<Enumeration*>(handle);
    if (!open_.contains(e)) return ERROR_INVALID_HANDLE;
    if (!count || !buffer || !bufferSize) return ERROR_INVALID_PARAMETER;

    if (e->next >= e->items.size()) {
        *count = 0;
        return ERROR_NO_MORE_ITEMS;
    }
    // A request for none means nothing useful; treat it as "as many as fit".
    const std::size_t limit = (*count == kAllEntries || *count == 0) ? e->items.size() : *count;
    const std::size_t size = *bufferSize;
    std::size_t take = 0;
    std::size_t bytes = 0;
    while (take < limit && e->next + take < e->items.size()) {
        const Item& it = e->items[e->next + take];
        const std::size_t need = recordBytes(it.resource, it.provider);
        if (bytes + need > size) break;
        bytes += need;
        ++take;
    }
    if (take == 0) {
        const Item& it = e->items[e->next];
        *count = 0;
        *bufferSize = static_cast<DWORD>(recordBytes(it.resource, it.provider));
        return ERROR_MORE_DATA;
    }

    auto* records = static_cast<NETRESOURCEA*>(buffer);
    char* tail = static_cast<char*>(buffer) + size;
    auto place = [&tail](const std::string& s) -> LPSTR {
        if (s.empty()) return nullptr;
        tail -= s.size() + 1;
        std::memcpy(tail, s.c_str(), s.size() + 1);
        return tail;
    };
    for (std::size_t k = 0; k < take; ++k) {
        const Item& it = e->items[e->next + k];
        NETRESOURCEA& r = records[k];
        r = NETRESOURCEA{};
        r.dwScope = RESOURCE_GLOBALNET;
        r.dwType = it.resource.type;
        r.dwDisplayType = it.resource.displayType;
        r.dwUsage = it.resource.usage;
        r.lpLocalName = nullptr;
        r.lpRemoteName = place(it.resource.remoteName);
        r.lpComment = place(it.resource.comment);
        r.lpProvider = place(it.provider);
    }
    e->next += take;
    *count = static_cast<DWORD>(take);
    // Entries left over: the caller asks again with the same area.
    return e->next < e->items.size() ? ERROR_MORE_DATA : NO_ERROR;
}

DWORD ResourceTree::closeEnum(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto* e = static_cast<Enumeration*>(handle);
    if (open_.erase(e) == 0) return ERROR_INVALID_HANDLE;
    delete e;
    return NO_ERROR;
}

std::string ResourceTree::userName() {
    // The account this program runs as, the same whether or not it has a terminal.
    std::string buf(4096, '\0');
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && pw.pw_name)
        return pw.pw_name;
    const char* user = std::getenv("USER");
    return user ? user : "";
}

std::string ResourceTree::computerName() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return "";
    return buf;
}

}  // namespace tavo::linuxwnet
