#pragma once

#include <string>

#include "grid/error.h"
#include "platform/linux/winrm/reply_parser.h"
#include "platform/linux/winrm/soap_transport.h"

// What a failed WS-Management request means to a Windows administrator.
namespace tavo::winrm {

// The error for a reply that is not a success: a SOAP fault carries the
// service's code (WMI's own inside WinRM's WSManFault detail) and its own
// text; an HTTP status without one says what it means for a WinRM listener.
// `parsed` is the reply's reading when its body was a SOAP envelope.
Error faultError(const SoapReply& reply, const EnumerationReply* parsed,
                 const std::string& endpoint, const std::string& query);

// For a fault read from a reply: its most specific code, in the form WMI
// over COM reports it (a Win32 code as the HRESULT 0x8007xxxx).
std::uint32_t faultCode(const SoapFault& fault);

}  // namespace tavo::winrm
