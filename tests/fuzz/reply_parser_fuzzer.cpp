// libFuzzer target over the reader of WS-Management replies: any bytes are
// read or refused with tavo::Error, never a crash, a leak or a hang, and
// what is read holds together.
// Built and run by `make fuzz` (clang only).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "grid/error.h"
#include "platform/linux/winrm/reply_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    try {
        const tavo::winrm::EnumerationReply r = tavo::winrm::parseReply(xml);
        for (const auto& item : r.items)
            for (const auto& p : item.properties)
                if (p.name.empty()) {
                    std::fprintf(stderr, "a property without a name was read\n");
                    std::abort();
                }
    } catch (const tavo::Error&) {
        // refused, with a reason: what it should do with most inputs
    }
    return 0;
}
