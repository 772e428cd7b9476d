#include "netenum/network_enum.h"

#include <algorithm>
#include <cstring>
#include <stop_token>

#include "support/cancellation.h"

namespace tavo {

namespace {

using netenum::NetworkResource;

constexpr DWORD kAllEntries = 0xFFFFFFFFu;  // "as many as fit"

// The calls hand out text in the system's ANSI code page; the lists are UTF-8.
std::string toUtf8(const std::string& text) {
#ifdef _WIN32
    if (text.empty()) return text;
    const int wide =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0) return text;
    std::wstring w(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return text;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), bytes, nullptr, nullptr);
    return out;
#else
    return text;
#endif
}

// A record handed back to the open call as its parent: the texts as the
// call gave them, an unset text as a null pointer. Valid while `r` lives.
NETRESOURCEA asParent(const NetworkResource& r) {
    auto ptr = [](const std::optional<std::string>& s) -> LPSTR {
        return s ? const_cast<LPSTR>(s->c_str()) : nullptr;
    };
    NETRESOURCEA nr{};
    nr.dwScope = r.dwScope;
    nr.dwType = r.dwType;
    nr.dwDisplayType = r.dwDisplayType;
    nr.dwUsage = r.dwUsage;
    nr.lpLocalName = ptr(r.lpLocalName);
    nr.lpRemoteName = ptr(r.lpRemoteName);
    nr.lpComment = ptr(r.lpComment);
    nr.lpProvider = ptr(r.lpProvider);
    return nr;
}

// The text of a raw record's pointer. A string placed inside the area is
// measured no further than the area's end, so a missing terminator cannot
// run the copy past it.
std::string copyText(const char* p, const char* areaBegin, const char* areaEnd) {
    if (p >= areaBegin && p < areaEnd)
        return std::string(p, strnlen(p, static_cast<std::size_t>(areaEnd - p)));
    return std::string(p);
}

}  // namespace

CNetworkEnum::CNetworkEnum(netenum::WNetApi& api, netenum::WalkLimits limits)
    : buffer_(std::make_unique<NETRESOURCEA[]>(kBufferRecords)), api_(api), limits_(limits) {
    SetResourceType(1);
}

void CNetworkEnum::Reset() {
    const auto deadline = std::chrono::steady_clock::now() + limits_.deadline;
    // Each walk fills its own table; records of an earlier walk must neither
    // be listed again nor lend their texts to this walk's records.
    table_.clear();

    // STOP ends the walk between containers; what was found so far is kept.
    const std::stop_token stop = cycle::currentStopToken();
    std::size_t i = 0;
    bool firstPass = true;
    bool goOn = true;
    do {
        if (std::chrono::steady_clock::now() >= deadline || stop.stop_requested()) break;
        HANDLE h = nullptr;
        DWORD rc = ERROR_NO_NETWORK;
        bool opened = false;
        if (firstPass) {
            // The top level of the network: its entries are the providers.
            rc = api_.openEnum(RESOURCE_GLOBALNET, static_cast<DWORD>(resourceType_), 0, nullptr,
                               &h);
            opened = true;
            firstPass = false;
        } else {
            if (table_[i].dwUsage & RESOURCEUSAGE_CONTAINER) {
                NETRESOURCEA parent = asParent(table_[i]);
                rc = api_.openEnum(RESOURCE_GLOBALNET, static_cast<DWORD>(resourceType_), 0,
                                   &parent, &h);
                opened = true;
            }
            ++i;
        }
        // A container that cannot be opened is skipped; nothing to close.
        if (opened && rc == NO_ERROR) {
            goOn = readContainer(h, deadline);
            api_.closeEnum(h);
        }
    } while (goOn && i < table_.size());

    BuildLists();
}

bool CNetworkEnum::readContainer(HANDLE h, std::chrono::steady_clock::time_point deadline) {
    if (table_.size() >= limits_.maxRecords) return false;
    DWORD count = kAllEntries;
    int emptyRepeats = 0;
    const std::stop_token stop = cycle::currentStopToken();
    for (;;) {
        if (std::chrono::steady_clock::now() >= deadline || stop.stop_requested()) return false;
        DWORD size = kRequestSize;
        const DWORD rc = api_.enumResource(h, &count, buffer_.get(), &size);
        // Entries count only when the call says it delivered them: after a
        // failure the area still holds the previous call's records.
        const bool delivered = rc == NO_ERROR || rc == ERROR_MORE_DATA;
        const auto reported = static_cast<std::int32_t>(count);
        if (delivered && reported > 0) {
            // No more records than the told size can hold, whatever the count says.
            const DWORD fit = static_cast<DWORD>(kRequestSize / sizeof(NETRESOURCEA));
            const DWORD room = static_cast<DWORD>(limits_.maxRecords - table_.size());
            const DWORD take = std::min({count, fit, room});
            takeRecords(take);
            emptyRepeats = 0;
            if (table_.size() >= limits_.maxRecords) return false;
        } else if (rc == ERROR_MORE_DATA && ++emptyRepeats >= limits_.maxEmptyRepeats) {
            // An entry larger than the told size would be asked for forever.
            return true;
        }
        // The next request keeps the count the call reported.
        if (rc != ERROR_MORE_DATA) return true;
    }
}

void CNetworkEnum::takeRecords(DWORD count) {
    const char* areaBegin = reinterpret_cast<const char*>(buffer_.get());
    const char* areaEnd = areaBegin + kBufferRecords * sizeof(NETRESOURCEA);
    auto text = [&](const char* p, std::optional<std::string>& into) {
        if (p) into = copyText(p, areaBegin, areaEnd);
    };
    for (DWORD k = 0; k < count; ++k) {
        const NETRESOURCEA& raw = buffer_[k];
        NetworkResource& r = table_.emplace_back();
        r.dwScope = raw.dwScope;
        r.dwType = raw.dwType;
        r.dwDisplayType = raw.dwDisplayType;
        r.dwUsage = raw.dwUsage;
        text(raw.lpLocalName, r.lpLocalName);
        text(raw.lpRemoteName, r.lpRemoteName);
        text(raw.lpComment, r.lpComment);
        text(raw.lpProvider, r.lpProvider);
    }
}

void CNetworkEnum::SetResourceType(std::int32_t lResourceType) {
    resourceType_ = lResourceType;
}
std::int32_t CNetworkEnum::GetResourceType() const {
    return resourceType_;
}
std::string CNetworkEnum::GetLocalUserName() const {
    return userName_;
}
std::string CNetworkEnum::GetLocalMachineName() const {
    return machineName_;
}
std::string CNetworkEnum::GetServerList() const {
    return serverList_;
}
std::string CNetworkEnum::GetShareList() const {
    return shareList_;
}
std::string CNetworkEnum::GetPrinterList() const {
    return printerList_;
}
std::string CNetworkEnum::GetDirectoryList() const {
    return directoryList_;
}
std::string CNetworkEnum::GetDomainList() const {
    return domainList_;
}
std::string CNetworkEnum::GetFileList() const {
    return fileList_;
}
std::string CNetworkEnum::GetGenericList() const {
    return genericList_;
}
std::string CNetworkEnum::GetGroupList() const {
    return groupList_;
}
std::string CNetworkEnum::GetNetworkList() const {
    return networkList_;
}
std::string CNetworkEnum::GetRootList() const {
    return rootList_;
}
std::string CNetworkEnum::GetShareAdminList() const {
    return shareAdminList_;
}

void CNetworkEnum::ReadLocalNames() {
    // A name that cannot be read stays as it was; the lists matter more.
    auto upToNul = [](std::string s) { return s.substr(0, s.find('\0')); };
    try {
        userName_ = upToNul(api_.userName());
    } catch (...) {
    }
    try {
        machineName_ = upToNul(api_.computerName());
    } catch (...) {
    }
}

void CNetworkEnum::BuildLists() {
    // A walk that met a single record (or none) leaves everything as it was.
    if (table_.size() < 2) return;
    ReadLocalNames();
    for (const NetworkResource& r : table_) {
        std::string* list = nullptr;
        const char* separator = "|";
        switch (r.dwDisplayType) {
            case RESOURCEDISPLAYTYPE_GENERIC:
                list = &genericList_;
                break;
            case RESOURCEDISPLAYTYPE_DOMAIN:
                list = &domainList_;
                separator = ", ";
                break;
            case RESOURCEDISPLAYTYPE_SERVER:
                list = &serverList_;
                separator = ",";
                break;
            case RESOURCEDISPLAYTYPE_SHARE:
                list = &shareList_;
                break;
            case RESOURCEDISPLAYTYPE_FILE:
                list = &fileList_;
                break;
            case RESOURCEDISPLAYTYPE_GROUP:
                list = &groupList_;
                break;
            case RESOURCEDISPLAYTYPE_NETWORK:
                list = &networkList_;
                break;
            case RESOURCEDISPLAYTYPE_ROOT:
                list = &rootList_;
                break;
            case RESOURCEDISPLAYTYPE_SHAREADMIN:
                list = &shareAdminList_;
                break;
            case RESOURCEDISPLAYTYPE_DIRECTORY:
                list = &directoryList_;
                break;
            default:
                break;  // trees, NDS containers and anything newer go into no list
        }
        if (!list) continue;
        list->append(toUtf8(r.lpRemoteName.value_or(std::string())));
        list->append(separator);
    }
}

}  // namespace tavo
