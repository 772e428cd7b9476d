#pragma once

#include <cstdint>
#include <string>

// The platform's network enumeration calls with their own record layout and
// return codes. On Windows these are mpr's; elsewhere a back end implements
// them over the system's own sources.
#ifdef _WIN32
#include <windows.h>
#include <winnetwk.h>
#else
using DWORD = std::uint32_t;
using LPSTR = char*;
using HANDLE = void*;

// Same members, order and alignment as Windows' NETRESOURCEA (48 bytes in a
// 64-bit build, 32 in a 32-bit one).
struct NETRESOURCEA {
    DWORD dwScope;
    DWORD dwType;
    DWORD dwDisplayType;
    DWORD dwUsage;
    LPSTR lpLocalName;
    LPSTR lpRemoteName;
    LPSTR lpComment;
    LPSTR lpProvider;
};

inline constexpr DWORD NO_ERROR = 0;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_NO_NETWORK = 1222;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_BAD_NETPATH = 53;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_NOT_CONTAINER = 1207;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;

inline constexpr DWORD RESOURCE_CONNECTED = 0x00000001;
inline constexpr DWORD RESOURCE_GLOBALNET = 0x00000002;
inline constexpr DWORD RESOURCE_REMEMBERED = 0x00000003;
inline constexpr DWORD RESOURCE_CONTEXT = 0x00000005;

inline constexpr DWORD RESOURCETYPE_ANY = 0x00000000;
inline constexpr DWORD RESOURCETYPE_DISK = 0x00000001;
inline constexpr DWORD RESOURCETYPE_PRINT = 0x00000002;

inline constexpr DWORD RESOURCEUSAGE_CONNECTABLE = 0x00000001;
inline constexpr DWORD RESOURCEUSAGE_CONTAINER = 0x00000002;

inline constexpr DWORD RESOURCEDISPLAYTYPE_GENERIC = 0x00000000;
inline constexpr DWORD RESOURCEDISPLAYTYPE_DOMAIN = 0x00000001;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SERVER = 0x00000002;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SHARE = 0x00000003;
inline constexpr DWORD RESOURCEDISPLAYTYPE_FILE = 0x00000004;
inline constexpr DWORD RESOURCEDISPLAYTYPE_GROUP = 0x00000005;
inline constexpr DWORD RESOURCEDISPLAYTYPE_NETWORK = 0x00000006;
inline constexpr DWORD RESOURCEDISPLAYTYPE_ROOT = 0x00000007;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SHAREADMIN = 0x00000008;
inline constexpr DWORD RESOURCEDISPLAYTYPE_DIRECTORY = 0x00000009;
inline constexpr DWORD RESOURCEDISPLAYTYPE_TREE = 0x0000000A;
inline constexpr DWORD RESOURCEDISPLAYTYPE_NDSCONTAINER = 0x0000000B;
#endif

namespace tavo::netenum {

// The three enumeration calls and the two local names, as one interface so
// the enumerator runs unchanged over mpr, the Linux back ends and test doubles.
class WNetApi {
  public:
    virtual ~WNetApi() = default;
    virtual DWORD openEnum(DWORD scope, DWORD type, DWORD usage, NETRESOURCEA* resource,
                           HANDLE* handle) = 0;
    virtual DWORD enumResource(HANDLE handle, DWORD* count, void* buffer, DWORD* bufferSize) = 0;
    virtual DWORD closeEnum(HANDLE handle) = 0;
    // The local user's login name and this computer's name (UTF-8); empty
    // when unknown.
    virtual std::string userName() = 0;
    virtual std::string computerName() = 0;
};

}  // namespace tavo::netenum
