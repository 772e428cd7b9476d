#pragma once

#include <memory>

#include "app/dialogs.h"
#include "collectors/management.h"
#include "netenum/wnet_api.h"

// The outside services the window works with, chosen in one place so tests
// hand the window their own.
struct MainServices {
    std::shared_ptr<tavo::wmi::ConnectionFactory> management;
    std::shared_ptr<tavo::netenum::WNetApi> network;
    std::shared_ptr<Dialogs> dialogs;
};

// The platform's back ends and the real dialogs.
MainServices defaultServices();
