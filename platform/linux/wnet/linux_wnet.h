#pragma once

#include <memory>

#include "netenum/wnet_api.h"

namespace tavo::linuxwnet {

// The network neighbourhood of this computer: one provider container per
// back end found at run time (DNS-SD through avahi-daemon, SMB browsing).
std::shared_ptr<netenum::WNetApi> makeWNetApi();

}  // namespace tavo::linuxwnet
