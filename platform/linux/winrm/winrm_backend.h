#pragma once

#include <functional>
#include <memory>
#include <string>

#include "collectors/management.h"
#include "platform/linux/winrm/enumeration.h"
#include "platform/linux/winrm/soap_transport.h"

// Windows computers through their WinRM service: the management query
// interface over WQL enumerations, objects typed as WMI over COM gives them.
namespace tavo::winrm {

using TransportFor = std::function<std::shared_ptr<SoapTransport>(const std::string& computer)>;

// `transportFor` makes the transport of a computer; the back end asks once
// per computer and reuses it for every later pass (an NTLM context
// authenticates the connection, and its sealing keys live with it). A
// transport that fails with access denied or an unreachable host is
// dropped, so the next pass asks for a new one. A factory that throws, or
// gives nothing, fails the connect.
std::shared_ptr<wmi::Backend> makeWinRmBackend(TransportFor transportFor, WalkOptions options = {});

}  // namespace tavo::winrm
