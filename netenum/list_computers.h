#pragma once

#include <cstdint>

#include "collectors/report_context.h"
#include "netenum/wnet_api.h"

namespace tavo {

// The "Network Computers" report: every computer of the network
// neighbourhood, one green row each, over a fresh enumerator per pass.
void ListComputers(ReportContext& ctx, netenum::WNetApi& api, std::int16_t& onepass);

}  // namespace tavo
