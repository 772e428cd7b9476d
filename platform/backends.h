#pragma once

#include <memory>

#include "collectors/management.h"
#include "netenum/wnet_api.h"
#include "remote/prompts.h"

// The platform's back ends, chosen in this one place for the window and for
// tavo-report alike.
namespace tavo {

struct Backends {
    std::shared_ptr<wmi::ConnectionFactory> management;
    std::shared_ptr<netenum::WNetApi> network;
};

// `prompter` answers what remote connections ask (a host key, a password);
// none: nothing is asked and such connections fail saying why.
Backends defaultBackends(std::shared_ptr<remote::Prompter> prompter = nullptr);

}  // namespace tavo
