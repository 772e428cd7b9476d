// A small network provider for the tests: Wine has no network provider of
// its own, so mpr's enumeration answers "no network" until one is
// registered. This one serves a fixed neighbourhood of two servers with two
// shares each, through the provider interface mpr loads from the registry.
#include <windows.h>
#include <winnetwk.h>
// npapi.h declares the provider entry points without C linkage.
extern "C" {
#include <npapi.h>
}

#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace {

struct Entry {
    DWORD displayType;
    DWORD usage;
    std::wstring remoteName;
    std::wstring comment;
};

struct Enumeration {
    std::vector<Entry> entries;
    std::size_t next = 0;
};

const wchar_t kProviderName[] = L"Tavo Test Network";

std::vector<Entry> childrenOf(const wchar_t* remoteName) {
    if (!remoteName || !*remoteName) {
        return {{RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER, L"\\\\TAVOSRV1", L"first"},
                {RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER, L"\\\\TAVOSRV2", L"second"}};
    }
    const std::wstring parent = remoteName;
    if (parent == L"\\\\TAVOSRV1" || parent == L"\\\\TAVOSRV2") {
        return {{RESOURCEDISPLAYTYPE_SHARE, RESOURCEUSAGE_CONNECTABLE, parent + L"\\public", L""},
                {RESOURCEDISPLAYTYPE_SHARE, RESOURCEUSAGE_CONNECTABLE, parent + L"\\print$", L""}};
    }
    return {};
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI NPGetCaps(DWORD index) {
    switch (index) {
        case WNNC_SPEC_VERSION:
            return WNNC_SPEC_VERSION51;
        case WNNC_NET_TYPE:
            return 0x00FE0000;  // a network type no real provider uses
        case WNNC_DRIVER_VERSION:
            return 1;
        case WNNC_ENUMERATION:
            return WNNC_ENUM_GLOBAL;
        default:
            return 0;
    }
}

__declspec(dllexport) DWORD WINAPI
    NPOpenEnum(DWORD scope, DWORD, DWORD, LPNETRESOURCEW resource, LPHANDLE handle) {
    if (scope != RESOURCE_GLOBALNET) return WN_NOT_SUPPORTED;
    auto* e = new (std::nothrow) Enumeration;
    if (!e) return WN_OUT_OF_MEMORY;
    e->entries = childrenOf(resource ? resource->lpRemoteName : nullptr);
    *handle = e;
    return WN_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI
    NPEnumResource(HANDLE handle, LPDWORD count, LPVOID buffer, LPDWORD bufferSize) {
    auto* e = static_cast<Enumeration*>(handle);
    if (!e) return WN_BAD_HANDLE;
    if (e->next >= e->entries.size()) return WN_NO_MORE_ENTRIES;

    // Records from the front of the buffer, their strings from the back.
    auto* records = static_cast<NETRESOURCEW*>(buffer);
    char* stringsEnd = static_cast<char*>(buffer) + *bufferSize;
    DWORD written = 0;
    const DWORD wanted = *count == 0xFFFFFFFF ? 0xFFFFFFFF : *count;
    while (e->next < e->entries.size() && written < wanted) {
        const Entry& entry = e->entries[e->next];
        const std::size_t textBytes =
            (entry.remoteName.size() + 1 + entry.comment.size() + 1 + wcslen(kProviderName) + 1) *
            sizeof(wchar_t);
        char* recordsEnd = reinterpret_cast<char*>(records + written + 1);
        if (recordsEnd + textBytes > stringsEnd) break;
        auto place = [&](const wchar_t* text) {
            const std::size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
            stringsEnd -= bytes;
            std::memcpy(stringsEnd, text, bytes);
            return reinterpret_cast<wchar_t*>(stringsEnd);
        };
        NETRESOURCEW& r = records[written];
        r.dwScope = RESOURCE_GLOBALNET;
        r.dwType =
            entry.displayType == RESOURCEDISPLAYTYPE_SHARE ? RESOURCETYPE_DISK : RESOURCETYPE_ANY;
        r.dwDisplayType = entry.displayType;
        r.dwUsage = entry.usage;
        r.lpLocalName = nullptr;
        r.lpRemoteName = place(entry.remoteName.c_str());
        r.lpComment = place(entry.comment.c_str());
        r.lpProvider = place(kProviderName);
        ++written;
        ++e->next;
    }
    if (written == 0) {
        *bufferSize = static_cast<DWORD>(sizeof(NETRESOURCEW) + 512 * sizeof(wchar_t));
        return WN_MORE_DATA;
    }
    *count = written;
    return WN_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI NPCloseEnum(HANDLE handle) {
    delete static_cast<Enumeration*>(handle);
    return WN_SUCCESS;
}

}  // extern "C"
