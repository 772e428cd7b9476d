#pragma once

#include <memory>

#include "collectors/management.h"
#include "netenum/wnet_api.h"

// The platform's back ends, chosen in this one place for the window and for
// tavo-report alike.
namespace tavo {

struct Backends {
    std::shared_ptr<wmi::ConnectionFactory> management;
    std::shared_ptr<netenum::WNetApi> network;
};

Backends defaultBackends();

}  // namespace tavo
