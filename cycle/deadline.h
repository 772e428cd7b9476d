#pragma once
// The deadline helper lives in support/, below the core folders.
#include "support/deadline.h"
