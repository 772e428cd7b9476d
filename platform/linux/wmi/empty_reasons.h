#pragma once

#include <string>
#include <string_view>

#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

// Why a class has no instances on this computer, where the provider can
// tell from what it could not read ("" where having none is ordinary, as
// for print jobs): the user then learns that the grid is empty for a reason.
std::string whyNoInstances(std::string_view className, const SystemContext& ctx);

}  // namespace tavo::linuxwmi
