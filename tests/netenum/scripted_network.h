#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "netenum/wnet_api.h"

// A network told in advance: containers by remote name ("" is the top level),
// each with its children, an open result and how many entries one call may
// return. Records are laid out in the caller's area the way the platform
// does: raw records at the start, their strings right after them.
namespace tavo::test {

struct Entry {
    DWORD displayType = RESOURCEDISPLAYTYPE_GENERIC;
    DWORD usage = 0;
    std::optional<std::string> remote;
    std::optional<std::string> provider;
    std::optional<std::string> local;
    std::optional<std::string> comment;
};

inline Entry server(const std::string& name, DWORD usage = RESOURCEUSAGE_CONTAINER) {
    return {RESOURCEDISPLAYTYPE_SERVER, usage, "\\\\" + name, "Scripted Network", {}, {}};
}
inline Entry container(DWORD displayType, const std::string& name) {
    return {displayType, RESOURCEUSAGE_CONTAINER, name, "Scripted Network", {}, {}};
}
inline Entry leaf(DWORD displayType, const std::string& name) {
    return {displayType, RESOURCEUSAGE_CONNECTABLE, name, "Scripted Network", {}, {}};
}

struct Container {
    DWORD openResult = NO_ERROR;
    std::vector<Entry> children;
    std::size_t batch = 1000;  // entries per call at most
    // Answer "more data" with nothing, forever.
    bool stuck = false;
    // After the first batch, fail without touching the count.
    std::optional<DWORD> failAfterFirst;
    // On the first call, report this many records more than were laid out
    // (a faulty back end).
    DWORD overReport = 0;
};

struct EnumCall {
    DWORD requested;
    DWORD size;
};

class ScriptedNetwork : public netenum::WNetApi {
  public:
    std::map<std::string, Container> containers;
    std::string user = "alice";
    std::string computer = "HOST";
    std::chrono::milliseconds openDelay{0};

    // What the walker did.
    std::vector<std::string> opened;  // remote names of parents, "" for the top
    std::vector<std::optional<std::string>> parentLocalNames;
    std::vector<EnumCall> enumCalls;
    int closes = 0;
    int openHandles = 0;

    DWORD openEnum(DWORD scope, DWORD type, DWORD usage, NETRESOURCEA* resource,
                   HANDLE* handle) override {
        if (openDelay.count()) std::this_thread::sleep_for(openDelay);
        scopes.push_back(scope);
        types.push_back(type);
        usages.push_back(usage);
        std::string key;
        if (resource) {
            key = resource->lpRemoteName ? resource->lpRemoteName : "<null>";
            parentLocalNames.push_back(resource->lpLocalName
                                           ? std::optional<std::string>(resource->lpLocalName)
                                           : std::nullopt);
        }
        opened.push_back(key);
        auto it = containers.find(key);
        if (it == containers.end()) return ERROR_BAD_NETPATH;
        if (it->second.openResult != NO_ERROR) return it->second.openResult;
        auto* h = new Handle{&it->second, 0, 0};
        *handle = h;
        ++openHandles;
        return NO_ERROR;
    }

    DWORD enumResource(HANDLE handle, DWORD* count, void* buffer, DWORD* bufferSize) override {
        auto* h = static_cast<Handle*>(handle);
        enumCalls.push_back({*count, *bufferSize});
        ++h->calls;
        const Container& c = *h->container;
        if (c.stuck) {
            *count = 0;
            return ERROR_MORE_DATA;
        }
        if (c.failAfterFirst && h->calls > 1) return *c.failAfterFirst;
        if (h->next >= c.children.size()) {
            *count = 0;
            return ERROR_NO_MORE_ITEMS;
        }
        std::size_t want = *count == 0xFFFFFFFFu || *count == 0 ? c.batch : *count;
        want = std::min({want, c.batch, c.children.size() - h->next});
        // As many as fit with their strings in the size the caller told.
        std::size_t fit = 0, bytes = 0;
        while (fit < want) {
            bytes += sizeof(NETRESOURCEA) + textBytes(c.children[h->next + fit]);
            if (bytes > *bufferSize) break;
            ++fit;
        }
        if (fit == 0) {
            *count = 0;
            return ERROR_MORE_DATA;
        }
        want = fit;
        // Lay the records out, then their strings behind them.
        auto* records = static_cast<NETRESOURCEA*>(buffer);
        char* strings = static_cast<char*>(buffer) + want * sizeof(NETRESOURCEA);
        char* end = static_cast<char*>(buffer) + *bufferSize;
        auto put = [&](const std::optional<std::string>& s) -> LPSTR {
            if (!s) return nullptr;
            if (strings + s->size() + 1 > end) throw std::runtime_error("scripted area overflow");
            std::memcpy(strings, s->c_str(), s->size() + 1);
            LPSTR p = strings;
            strings += s->size() + 1;
            return p;
        };
        for (std::size_t k = 0; k < want; ++k) {
            const Entry& e = c.children[h->next + k];
            NETRESOURCEA& r = records[k];
            r = NETRESOURCEA{};
            r.dwScope = RESOURCE_GLOBALNET;
            r.dwType = RESOURCETYPE_ANY;
            r.dwDisplayType = e.displayType;
            r.dwUsage = e.usage;
            r.lpLocalName = put(e.local);
            r.lpRemoteName = put(e.remote);
            r.lpComment = put(e.comment);
            r.lpProvider = put(e.provider);
        }
        h->next += want;
        *count = static_cast<DWORD>(want) + (h->calls == 1 ? c.overReport : 0);
        return h->next < c.children.size() ? ERROR_MORE_DATA : NO_ERROR;
    }

    DWORD closeEnum(HANDLE handle) override {
        delete static_cast<Handle*>(handle);
        ++closes;
        --openHandles;
        return NO_ERROR;
    }

    std::string userName() override { return user; }
    std::string computerName() override { return computer; }

    std::vector<DWORD> scopes, types, usages;

  private:
    static std::size_t textBytes(const Entry& e) {
        std::size_t n = 0;
        for (const auto* s : {&e.local, &e.remote, &e.comment, &e.provider})
            if (*s) n += (*s)->size() + 1;
        return n;
    }
    struct Handle {
        const Container* container;
        std::size_t next;
        int calls;
    };
};

}  // namespace tavo::test
