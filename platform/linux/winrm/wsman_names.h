#pragma once

// The XML namespaces and URIs a WQL enumeration over WS-Management uses
// (DSP0226 WS-Management, DSP0227 its CIM binding, MS-WSMV Microsoft's
// profile of both). Kept in one place so the envelopes, the reply parser and
// the test fixtures cannot drift apart.
namespace tavo::winrm::ns {

inline constexpr const char* kSoap = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char* kAddressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr const char* kEnumeration = "http://schemas.xmlsoap.org/ws/2004/09/enumeration";
inline constexpr const char* kWsman = "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd";
// Microsoft's own header extensions in MS-WSMV (DataLocale, SessionId).
inline constexpr const char* kMsWsman = "http://schemas.microsoft.com/wbem/wsman/1/wsman.xsd";
inline constexpr const char* kXsi = "http://www.w3.org/2001/XMLSchema-instance";
// cim:Datetime and its siblings: MS-WSMV 2.2.5.3 (cimDateTime).
inline constexpr const char* kCim = "http://schemas.dmtf.org/wbem/wscim/1/common";
// The detail element of a fault from the WinRM service (MS-WSMV WSManFault).
inline constexpr const char* kWsmanFault = "http://schemas.microsoft.com/wbem/wsman/1/wsmanfault";

inline constexpr const char* kAnonymous =
    "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
inline constexpr const char* kActionEnumerate =
    "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate";
inline constexpr const char* kActionEnumerateResponse =
    "http://schemas.xmlsoap.org/ws/2004/09/enumeration/EnumerateResponse";
inline constexpr const char* kActionPull = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Pull";
inline constexpr const char* kActionPullResponse =
    "http://schemas.xmlsoap.org/ws/2004/09/enumeration/PullResponse";
inline constexpr const char* kActionRelease =
    "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Release";
inline constexpr const char* kActionReleaseResponse =
    "http://schemas.xmlsoap.org/ws/2004/09/enumeration/ReleaseResponse";
inline constexpr const char* kActionFault = "http://schemas.dmtf.org/wbem/wsman/1/wsman/fault";

// The class is named in the query, so the resource is the namespace with
// "*" (MS-WSMV, the WQL filter on a WMI resource).
inline constexpr const char* kCimv2AllClasses =
    "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*";
inline constexpr const char* kCimv2ClassPrefix =
    "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/";
inline constexpr const char* kWqlDialect = "http://schemas.microsoft.com/wbem/wsman/1/WQL";

}  // namespace tavo::winrm::ns
