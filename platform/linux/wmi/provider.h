#pragma once

#include <memory>

#include "collectors/management.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

// The built-in management provider: answers WQL about this computer (or the
// fixture tree in `context`) through the management query interface.
std::shared_ptr<wmi::Backend> makeProvider(SystemContext context = SystemContext::forThisMachine());

}  // namespace tavo::linuxwmi
