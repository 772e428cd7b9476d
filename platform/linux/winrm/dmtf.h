#pragma once

#include <optional>
#include <string>
#include <string_view>

// WS-Management carries CIM datetimes as XML Schema types (MS-WSMV 2.2.5.3,
// the cimDateTime choice of DSP0230); scripts and the collectors read them
// as WMI over COM gives them, in the DMTF text form. Nothing when the text
// is not of the XML type.
namespace tavo::winrm {

// "2013-03-09T02:57:32.5Z" -> "20130309025732.500000+000"; an offset
// "-08:00" becomes "-480"; without a zone the offset is "+***".
std::optional<std::string> dmtfFromXsDateTime(std::string_view text);
// "P1DT2H3M4.5S" -> "00000001020304.500000:000".
std::optional<std::string> dmtfFromXsDuration(std::string_view text);
// "2013-03-09" -> "20130309******.******+***" (with a zone, its offset).
std::optional<std::string> dmtfFromXsDate(std::string_view text);
// "02:57:32Z" -> "********025732.000000+000".
std::optional<std::string> dmtfFromXsTime(std::string_view text);

}  // namespace tavo::winrm
