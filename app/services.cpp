#include "app/services.h"

#include "app/prompt_dialogs.h"
#include "platform/backends.h"

MainServices defaultServices() {
    MainServices services;
    // Remote connections ask their questions in dialogs of the window.
    tavo::Backends backends = tavo::defaultBackends(makeWindowPrompter());
    services.management = std::move(backends.management);
    services.network = std::move(backends.network);
    services.dialogs = std::make_shared<QtDialogs>();
    services.settings = std::make_shared<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                    QStringLiteral("tavo"), QStringLiteral("tavo"));
    return services;
}
