#include "platform/linux/wnet/dnssd_provider.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>

#include "cycle/deadline.h"
#include "grid/utf8.h"
#include "support/text.h"

namespace tavo::linuxwnet {

namespace {

const char* const kDomain = "local";

using Clock = std::chrono::steady_clock;

// A client of the daemon on its own poll loop; freeing the client frees its
// browsers and resolvers with it.
struct Session {
    AvahiSimplePoll* poll = nullptr;
    AvahiClient* client = nullptr;

    Session() {
        poll = avahi_simple_poll_new();
        if (!poll) return;
        int error = 0;
        // No NO_FAIL flag: with the daemon absent the client is not made.
        client = avahi_client_new(
            avahi_simple_poll_get(poll), AvahiClientFlags(0),
            [](AvahiClient*, AvahiClientState, void*) {}, nullptr, &error);
    }
    ~Session() {
        if (client) avahi_client_free(client);
        if (poll) avahi_simple_poll_free(poll);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    bool ok() const { return client && avahi_client_get_state(client) != AVAHI_CLIENT_FAILURE; }
};

struct Service {
    std::string name;
    std::optional<std::string> host;  // set once resolved
    bool settled = false;             // resolved or failed
};

// Everything the callbacks fill in while the loop runs.
struct Browse {
    AvahiClient* client = nullptr;
    std::size_t browsersLeft = 0;
    std::vector<Service> services;                       // in the order first seen
    std::set<std::pair<std::string, std::string>> seen;  // (name, type)
    std::map<AvahiServiceResolver*, std::size_t> resolving;

    bool done() const { return browsersLeft == 0 && resolving.empty(); }
};

void onResolved(AvahiServiceResolver* r, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                const char*, const char*, const char*, const char* hostName, const AvahiAddress*,
                uint16_t, AvahiStringList*, AvahiLookupResultFlags, void* userdata) {
    auto* b = static_cast<Browse*>(userdata);
    auto it = b->resolving.find(r);
    if (it == b->resolving.end()) return;
    Service& s = b->services[it->second];
    if (event == AVAHI_RESOLVER_FOUND && hostName && *hostName) s.host = hostName;
    s.settled = true;
    b->resolving.erase(it);
    avahi_service_resolver_free(r);
}

void onBrowsed(AvahiServiceBrowser*, AvahiIfIndex iface, AvahiProtocol protocol,
               AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
               AvahiLookupResultFlags, void* userdata) {
    auto* b = static_cast<Browse*>(userdata);
    switch (event) {
        case AVAHI_BROWSER_NEW: {
            if (!name || !type) return;
            // The same service seen on several interfaces resolves to one host.
            if (!b->seen.insert({name, type}).second) return;
            // Only the host name is wanted: no address or text lookups, which
            // would wait on hosts that publish none.
            AvahiServiceResolver* r = avahi_service_resolver_new(
                b->client, iface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
                AvahiLookupFlags(AVAHI_LOOKUP_NO_TXT | AVAHI_LOOKUP_NO_ADDRESS), onResolved, b);
            b->services.push_back({name, std::nullopt, r == nullptr});
            if (r) b->resolving[r] = b->services.size() - 1;
            break;
        }
        case AVAHI_BROWSER_ALL_FOR_NOW:
        case AVAHI_BROWSER_FAILURE:
            if (b->browsersLeft > 0) --b->browsersLeft;
            break;
        case AVAHI_BROWSER_REMOVE:
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
    }
}

// The hosts of the domain, each once, in the order their services were seen.
std::optional<std::vector<Resource>> browseHosts(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    Session session;
    if (!session.ok()) return std::nullopt;

    Browse b;
    b.client = session.client;
    for (const std::string& type : DnsSdProvider::computerServiceTypes()) {
        if (avahi_service_browser_new(session.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                      type.c_str(), kDomain, AvahiLookupFlags(0), onBrowsed, &b))
            ++b.browsersLeft;
    }
    while (!b.done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        if (avahi_simple_poll_iterate(session.poll, static_cast<int>(left.count())) != 0) break;
    }

    std::vector<Resource> hosts;
    std::set<std::string> listed;
    for (const Service& s : b.services) {
        if (!s.host) continue;
        const std::string host =
            DnsSdProvider::unescapeName(DnsSdProvider::shortHostName(*s.host, kDomain));
        if (host.empty() || !listed.insert(text::toLower(host)).second) continue;
        Resource r;
        r.displayType = RESOURCEDISPLAYTYPE_SERVER;
        // Nothing to open inside a host: its services are not shares.
        r.usage = 0;
        r.remoteName = "\\\\" + host;
        r.comment = DnsSdProvider::unescapeName(s.name);
        hosts.push_back(std::move(r));
    }
    return hosts;
}

}  // namespace

const std::vector<std::string>& DnsSdProvider::computerServiceTypes() {
    static const std::vector<std::string> types = {"_workstation._tcp", "_smb._tcp", "_ssh._tcp",
                                                   "_device-info._tcp"};
    return types;
}

std::string DnsSdProvider::shortHostName(const std::string& hostName, const std::string& domain) {
    std::string host = hostName;
    if (!host.empty() && host.back() == '.') host.pop_back();
    const std::string suffix = "." + domain;
    if (host.size() > suffix.size() &&
        text::toLower(host.substr(host.size() - suffix.size())) == text::toLower(suffix))
        host.resize(host.size() - suffix.size());
    return host;
}

bool DnsSdProvider::available() {
    const auto reached = callWithDeadline(timing_.probe, [] { return Session().ok(); });
    return reached.value_or(false);
}

Listing DnsSdProvider::children(const Resource& parent) {
    Listing listing;
    if (parent.displayType == RESOURCEDISPLAYTYPE_NETWORK) {
        Resource domain;
        domain.displayType = RESOURCEDISPLAYTYPE_DOMAIN;
        domain.usage = RESOURCEUSAGE_CONTAINER;
        domain.remoteName = kDomain;
        listing.children.push_back(domain);
        return listing;
    }
    if (parent.displayType != RESOURCEDISPLAYTYPE_DOMAIN ||
        text::toLower(parent.remoteName) != kDomain) {
        listing.status = ERROR_BAD_NETPATH;
        return listing;
    }
    // The worker gets a little longer than the browse itself, which ends on
    // its own deadline; the outer limit only catches a daemon that hangs.
    const auto limit = timing_.browse;
    auto hosts =
        callWithDeadline(limit + std::chrono::seconds(2), [limit] { return browseHosts(limit); });
    if (!hosts || !*hosts) {
        listing.status = ERROR_NO_NETWORK;
        return listing;
    }
    listing.children = std::move(**hosts);
    return listing;
}

std::string DnsSdProvider::unescapeName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\' || i + 1 == name.size()) {
            out += name[i];
        } else if (i + 3 < name.size() && digit(name[i + 1]) && digit(name[i + 2]) &&
                   digit(name[i + 3])) {
            const int code =
                (name[i + 1] - '0') * 100 + (name[i + 2] - '0') * 10 + (name[i + 3] - '0');
            if (code > 255) {
                out += name[i];  // not an escape: keep the text as it came
                continue;
            }
            out += static_cast<char>(code);
            i += 3;
        } else {
            out += name[++i];  // "\." is a dot, "\\" a backslash
        }
    }
    return validUtf8(std::move(out));
}

}  // namespace tavo::linuxwnet
