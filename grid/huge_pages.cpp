#include "grid/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tavo::grid {

void adviseHugePages([[maybe_unused]] char* data, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kWorthIt = std::size_t{4} << 20;
    if (size < kWorthIt) return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace tavo::grid
