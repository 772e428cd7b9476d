#pragma once

#include <memory>

#include <QSettings>

#include "app/dialogs.h"
#include "collectors/management.h"
#include "netenum/wnet_api.h"

// The outside services the window works with, chosen in one place so tests
// hand the window their own.
struct MainServices {
    std::shared_ptr<tavo::wmi::ConnectionFactory> management;
    std::shared_ptr<tavo::netenum::WNetApi> network;
    std::shared_ptr<Dialogs> dialogs;
    // Where column layouts and the window's place are remembered; without
    // it nothing is remembered.
    std::shared_ptr<QSettings> settings;
};

// The platform's back ends, the real dialogs and the user's settings file
// (tavo/tavo.ini in the XDG config folder, or in the roaming application
// data folder on Windows).
MainServices defaultServices();
