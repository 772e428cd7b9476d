#pragma once

// The provider's calls with a deadline go through the program's one helper.
#include "cycle/deadline.h"

namespace tavo::linuxwmi {
using tavo::callWithDeadline;
using tavo::Pending;
using tavo::startOnWorker;
}  // namespace tavo::linuxwmi
