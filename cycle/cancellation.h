#pragma once
// The cancellation token lives in support/, below the core folders.
#include "support/cancellation.h"
