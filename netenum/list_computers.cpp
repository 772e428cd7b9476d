#include "netenum/list_computers.h"

// Placeholder until the enumerator lands: no computers, and the pass ends.
namespace tavo {

void ListComputers(ReportContext& ctx, netenum::WNetApi&, std::int16_t& onepass) {
    if (onepass) ctx.endOfPass();
}

}  // namespace tavo
