#pragma once

#include <cstdint>
#include <string>

#include "collectors/report_context.h"

// The management collectors: each clears and refills the results grid for one
// pass. A one-pass report ends its pass with ctx.endOfPass().
namespace tavo {

// Every object of `wmiclass` with all its properties ("SELECT * FROM " + class).
// `onepass` is the 16-bit flag of the dispatch table: -1 one-pass, 0 periodic.
void GetResults(ReportContext& ctx, const std::string& wmiclass, std::int16_t& onepass);
void DriveMon(ReportContext& ctx);
void NetMon(ReportContext& ctx);
void PrintMon(ReportContext& ctx);

}  // namespace tavo
