#pragma once

#include <cstddef>

namespace tavo::grid {

// A buffer of a hundred megabytes or more (an export's text, a filter's
// folded rows), faulted in 4 KiB at a time, costs more than filling it; such
// a buffer asks for huge pages before it is first touched. Only advice:
// where the kernel declines, or elsewhere than Linux, nothing changes.
void adviseHugePages(char* data, std::size_t size);

}  // namespace tavo::grid
