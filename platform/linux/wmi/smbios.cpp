#include "platform/linux/wmi/smbios.h"

#include <cstring>

namespace tavo::linuxwmi {

namespace {
template <typename T>
std::optional<T> readLittleEndian(const std::string& bytes, std::size_t offset) {
    if (offset + sizeof(T) > bytes.size()) return std::nullopt;
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        v |= static_cast<T>(static_cast<T>(static_cast<unsigned char>(bytes[offset + i]))
                            << (8 * i));
    }
    return v;
}
}  // namespace

std::optional<std::uint8_t> SmbiosStructure::byteAt(std::size_t offset) const {
    return readLittleEndian<std::uint8_t>(formatted, offset);
}
std::optional<std::uint16_t> SmbiosStructure::wordAt(std::size_t offset) const {
    return readLittleEndian<std::uint16_t>(formatted, offset);
}
std::optional<std::uint32_t> SmbiosStructure::dwordAt(std::size_t offset) const {
    return readLittleEndian<std::uint32_t>(formatted, offset);
}
std::optional<std::uint64_t> SmbiosStructure::qwordAt(std::size_t offset) const {
    return readLittleEndian<std::uint64_t>(formatted, offset);
}

std::optional<std::string> SmbiosStructure::stringAt(std::size_t offset) const {
    const auto index = byteAt(offset);
    if (!index || *index == 0 || *index > strings.size()) return std::nullopt;
    return strings[*index - 1];
}

std::vector<SmbiosStructure> parseSmbiosTable(std::string_view data) {
    std::vector<SmbiosStructure> out;
    std::size_t pos = 0;
    while (pos + 4 <= data.size()) {
        const auto type = static_cast<std::uint8_t>(data[pos]);
        const auto length = static_cast<std::uint8_t>(data[pos + 1]);
        if (length < 4 || pos + length > data.size()) break;
        SmbiosStructure s;
        s.type = type;
        s.formatted = std::string(data.substr(pos, length));
        // The string set follows, each string NUL-terminated, the set ended
        // by a second NUL (two NULs when it is empty).
        std::size_t p = pos + length;
        bool terminated = false;
        if (p + 1 < data.size() && data[p] == '\0' && data[p + 1] == '\0') {
            p += 2;  // an empty set is written as two NULs
            terminated = true;
        } else {
            while (p < data.size()) {
                const auto end = data.find('\0', p);
                if (end == std::string_view::npos) break;
                if (end == p) {  // the second NUL closes the set
                    p = end + 1;
                    terminated = true;
                    break;
                }
                s.strings.emplace_back(data.substr(p, end - p));
                p = end + 1;
            }
        }
        if (!terminated) break;
        const bool endOfTable = type == 127;
        out.push_back(std::move(s));
        if (endOfTable) break;
        pos = p;
    }
    return out;
}

std::optional<std::pair<int, int>> parseSmbiosVersion(std::string_view ep) {
    if (ep.size() >= 10 && ep.substr(0, 5) == "_SM3_") {
        return std::pair{static_cast<unsigned char>(ep[7]), static_cast<unsigned char>(ep[8])};
    }
    if (ep.size() >= 8 && ep.substr(0, 4) == "_SM_") {
        return std::pair{static_cast<unsigned char>(ep[6]), static_cast<unsigned char>(ep[7])};
    }
    return std::nullopt;
}

std::vector<SmbiosStructure> readSmbiosTable(const SystemContext& ctx) {
    auto data = ctx.readFile("/sys/firmware/dmi/tables/DMI", 4 * 1024 * 1024);
    if (!data) return {};
    return parseSmbiosTable(*data);
}

}  // namespace tavo::linuxwmi
