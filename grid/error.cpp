#include "grid/error.h"

#include <cstdio>

namespace tavo {

std::string Error::numberText() const {
    char buf[16];
    if (number_ & 0x80000000u) {
        std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(number_));
    } else {
        std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(number_));
    }
    return buf;
}

}  // namespace tavo
