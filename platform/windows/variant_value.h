#pragma once

#include <oaidl.h>
#include <wbemcli.h>

#include "collectors/value.h"

namespace tavo::winwmi {

// A property value as the management service hands it over, to the core's
// value type. `cimType` is the property's declared type: Automation carries
// uint32 as a signed VT_I4, so values of 2^31 and more would read negative
// without it. 64-bit integers and datetimes arrive as text and stay text.
wmi::Value fromVariant(const VARIANT& v, CIMTYPE cimType);

}  // namespace tavo::winwmi
