#include "platform/linux/wnet/smb_provider.h"

#include <cstring>
#include <optional>
#include <vector>

#include "cycle/deadline.h"
#include "platform/linux/wnet/smb_library.h"

namespace tavo::linuxwnet {

namespace {

// Anonymous browsing: no user, no password, the workgroup left as given.
void anonymous(SMBCCTX*, const char*, const char*, char*, int, char* user, int userLen,
               char* password, int passwordLen) {
    if (userLen > 0) user[0] = '\0';
    if (passwordLen > 0) password[0] = '\0';
}

// One libsmbclient context per call: a call that misses its time keeps its
// context to itself, so a later call never shares state with a stuck one.
class Context {
  public:
    explicit Context(std::chrono::milliseconds timeout) : lib_(smbLibrary()) {
        if (!lib_) return;
        SMBCCTX* fresh = lib_->newContext();
        if (!fresh) return;
        lib_->setDebug(fresh, 0);
        lib_->setTimeout(fresh, static_cast<int>(timeout.count()));
        lib_->setAuthData(fresh, anonymous);
        ctx_ = lib_->initContext(fresh);
        if (!ctx_) lib_->freeContext(fresh, 1);
    }
    ~Context() {
        if (ctx_) lib_->freeContext(ctx_, 1);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    SMBCCTX* get() const { return ctx_; }
    const SmbLibrary& lib() const { return *lib_; }

  private:
    const SmbLibrary* lib_;
    SMBCCTX* ctx_ = nullptr;
};

struct Entry {
    unsigned type;
    std::string name;
    std::string comment;
};

std::optional<std::vector<Entry>> listDirectory(const std::string& url,
                                                std::chrono::milliseconds timeout) {
    Context context(timeout);
    SMBCCTX* ctx = context.get();
    if (!ctx) return std::nullopt;
    SMBCFILE* dir = context.lib().opendir(ctx)(ctx, url.c_str());
    if (!dir) return std::nullopt;
    std::vector<Entry> entries;
    while (const smbc_dirent* d = context.lib().readdir(ctx)(ctx, dir)) {
        entries.push_back({d->smbc_type, std::string(d->name, strnlen(d->name, d->namelen + 1)),
                           d->comment ? d->comment : ""});
    }
    context.lib().closedir(ctx)(ctx, dir);
    return entries;
}

std::string percentEncode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~' ||
                           c == '$';
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

Resource record(DWORD type, DWORD displayType, DWORD usage, std::string remote,
                std::string comment) {
    Resource r;
    r.type = type;
    r.displayType = displayType;
    r.usage = usage;
    r.remoteName = std::move(remote);
    r.comment = std::move(comment);
    return r;
}

}  // namespace

std::string SmbProvider::url(const std::string& workgroup, const std::string& server) {
    if (!server.empty()) return "smb://" + percentEncode(server) + "/";
    if (!workgroup.empty()) return "smb://" + percentEncode(workgroup) + "/";
    return "smb://";
}

bool SmbProvider::available() {
    const auto limit = callLimit_;
    return callWithDeadline(limit, [limit] { return Context(limit).get() != nullptr; })
        .value_or(false);
}

Listing SmbProvider::children(const Resource& parent) {
    Listing listing;
    std::string address;
    std::string server;
    switch (parent.displayType) {
        case RESOURCEDISPLAYTYPE_NETWORK:
            address = url({});
            break;
        case RESOURCEDISPLAYTYPE_DOMAIN:
            address = url(parent.remoteName);
            break;
        case RESOURCEDISPLAYTYPE_SERVER:
            server = parent.remoteName;
            while (!server.empty() && server.front() == '\\') server.erase(0, 1);
            address = url({}, server);
            break;
        default:
            listing.status = ERROR_BAD_NETPATH;
            return listing;
    }
    // The library's own timeout covers a connection; the outer limit also
    // covers name lookups, which it does not.
    const auto limit = callLimit_;
    const auto entries = callWithDeadline(limit + std::chrono::seconds(1), [address, limit] {
        return listDirectory(address, limit);
    });
    if (!entries || !*entries) {
        // Nobody answered for this container: its open fails, and the walk
        // skips it and goes on with the rest of the network.
        listing.status = ERROR_NO_NETWORK;
        return listing;
    }
    for (const Entry& e : **entries) {
        switch (e.type) {
            case SMBC_WORKGROUP:
                listing.children.push_back(record(RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_DOMAIN,
                                                  RESOURCEUSAGE_CONTAINER, e.name, e.comment));
                break;
            case SMBC_SERVER:
                listing.children.push_back(record(RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_SERVER,
                                                  RESOURCEUSAGE_CONTAINER, "\\\\" + e.name,
                                                  e.comment));
                break;
            case SMBC_FILE_SHARE:
            case SMBC_PRINTER_SHARE: {
                // Hidden administrative shares are not browsed, as elsewhere.
                if (!e.name.empty() && e.name.back() == '$') break;
                const DWORD type =
                    e.type == SMBC_PRINTER_SHARE ? RESOURCETYPE_PRINT : RESOURCETYPE_DISK;
                listing.children.push_back(record(type, RESOURCEDISPLAYTYPE_SHARE,
                                                  RESOURCEUSAGE_CONNECTABLE,
                                                  "\\\\" + server + "\\" + e.name, e.comment));
                break;
            }
            default:
                break;  // IPC and communication shares, files: not resources to browse
        }
    }
    return listing;
}

}  // namespace tavo::linuxwnet
