#pragma once

#include <memory>

#include "netenum/wnet_api.h"

namespace tavo::winwnet {

// The network enumeration calls are mpr's own; the names come from the system.
std::shared_ptr<netenum::WNetApi> makeMprWNetApi();

}  // namespace tavo::winwnet
