#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "collectors/management.h"

namespace tavo::winwmi {

struct ComTimeouts {
    // How long one IEnumWbemClassObject::Next may wait for the next object.
    std::chrono::milliseconds perCall{5000};
    // How long a whole walk may take; a computer that stops answering ends it.
    std::chrono::milliseconds overall{60000};
};

// The management query interface over WMI's COM interfaces, for this
// computer or another one, with the caller's own credentials.
std::shared_ptr<wmi::Backend> makeComBackend(ComTimeouts timeouts = {});

// "\\computer\root\CIMV2" as ConnectServer takes it; "." for any name
// that means this computer.
std::wstring namespacePath(const std::string& computer);

// "the query "SELECT ..." on the class Win32_X", for messages.
std::string queryInContext(const std::string& query);

}  // namespace tavo::winwmi
