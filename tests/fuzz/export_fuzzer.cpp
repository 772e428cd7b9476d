// libFuzzer target over the CSV and HTML export text: every input becomes a
// grid, both exports are read back by other parsers and must equal it.
// Built and run by `make fuzz` (clang only).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "../grid/export_roundtrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavo::grid::Grid g;
    std::string computer;
    tavo::roundtrip::gridFromBytes(data, size, g, computer);
    const std::string why = tavo::roundtrip::check(g, computer, "Processes");
    if (!why.empty()) {
        std::fprintf(stderr, "export round trip: %s\n", why.c_str());
        std::abort();
    }
    return 0;
}
