#pragma once

#include <memory>

#include "platform/linux/winrm/soap_transport.h"

// A small enumeration service for the transport's tests, the independent
// client and the loopback benchmark: `count` instances of Win32_Service,
// handed out `pageSize` at a time over Enumerate and Pull, the context
// naming the next position. Replies are shaped as Windows shapes them.
namespace tavo::winrm::testing {

std::shared_ptr<SoapResponder> makePagedResponder(int count, int pageSize);

}  // namespace tavo::winrm::testing
