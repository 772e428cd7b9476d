#include "platform/linux/wmi/inventory_classes.h"

#include "platform/linux/wmi/inventory_text.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

std::uint16_t word(std::string_view d, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(d[at]) |
                                      static_cast<unsigned char>(d[at + 1]) << 8);
}

std::uint32_t dword(std::string_view d, std::size_t at) {
    return static_cast<std::uint32_t>(word(d, at)) | static_cast<std::uint32_t>(word(d, at + 2))
                                                         << 16;
}

std::uint8_t byte(std::string_view d, std::size_t at) {
    return static_cast<unsigned char>(d[at]);
}

// The structure's strings, numbered from 1 as its fields refer to them.
std::optional<std::string> stringAt(const std::vector<std::string_view>& strings, std::uint8_t n) {
    if (n == 0 || n > strings.size()) return std::nullopt;
    const std::string_view s = text::trim(strings[n - 1]);
    if (s.empty()) return std::nullopt;
    return std::string(s);
}

MemoryDevice parseType17(std::string_view f, const std::vector<std::string_view>& strings) {
    // `f` is the formatted area; each field exists only if the record is long
    // enough for the SMBIOS version that wrote it.
    MemoryDevice m;
    const auto has = [&](std::size_t offset, std::size_t width) {
        return f.size() >= offset + width;
    };
    const auto knownWidth = [](std::uint16_t w) -> std::optional<std::uint16_t> {
        if (w == 0xFFFF) return std::nullopt;
        return w;
    };
    if (has(0x08, 2)) m.totalWidth = knownWidth(word(f, 0x08));
    if (has(0x0A, 2)) m.dataWidth = knownWidth(word(f, 0x0A));
    if (has(0x0C, 2)) {
        const std::uint16_t size = word(f, 0x0C);
        if (size == 0) {
            m.populated = false;
        } else if (size == 0xFFFF) {
            m.populated = true;  // present, size unknown
        } else if (size == 0x7FFF) {
            m.populated = true;
            if (has(0x1C, 4))
                m.sizeBytes = static_cast<std::uint64_t>(dword(f, 0x1C) & 0x7FFFFFFF) << 20;
        } else {
            m.populated = true;
            const std::uint64_t units = size & 0x7FFF;
            m.sizeBytes = (size & 0x8000) ? units << 10 : units << 20;
        }
    }
    if (has(0x0E, 1)) m.formFactor = byte(f, 0x0E);
    if (has(0x10, 1)) m.deviceLocator = stringAt(strings, byte(f, 0x10));
    if (has(0x11, 1)) m.bankLocator = stringAt(strings, byte(f, 0x11));
    if (has(0x12, 1)) m.memoryType = byte(f, 0x12);
    if (has(0x13, 2)) m.typeDetail = word(f, 0x13);
    // Speeds: 0 is unknown, 0xFFFF sends to the 32-bit extended field.
    const auto speedAt = [&](std::size_t offset,
                             std::size_t extended) -> std::optional<std::uint32_t> {
        if (!has(offset, 2)) return std::nullopt;
        const std::uint16_t s = word(f, offset);
        if (s == 0) return std::nullopt;
        if (s == 0xFFFF) {
            if (!has(extended, 4)) return std::nullopt;
            const std::uint32_t e = dword(f, extended) & 0x7FFFFFFF;
            if (e == 0) return std::nullopt;
            return e;
        }
        return s;
    };
    m.speed = speedAt(0x15, 0x54);
    m.configuredSpeed = speedAt(0x20, 0x58);
    if (has(0x17, 1)) m.manufacturer = stringAt(strings, byte(f, 0x17));
    if (has(0x18, 1)) m.serialNumber = stringAt(strings, byte(f, 0x18));
    if (has(0x1A, 1)) m.partNumber = stringAt(strings, byte(f, 0x1A));
    if (has(0x1B, 1) && (byte(f, 0x1B) & 0x0F) != 0) m.rank = byte(f, 0x1B) & 0x0F;
    const auto voltage = [&](std::size_t offset) -> std::optional<std::uint16_t> {
        if (!has(offset, 2) || word(f, offset) == 0) return std::nullopt;
        return word(f, offset);
    };
    m.minVoltage = voltage(0x22);
    m.maxVoltage = voltage(0x24);
    m.configuredVoltage = voltage(0x26);
    return m;
}

// SMBIOS form factor codes to the class's FormFactor list; codes the list
// cannot name (chip, row of chips, FB-DIMM, die) are "Other".
std::int64_t formFactor(std::uint8_t smbios) {
    switch (smbios) {
        case 0x01:
            return 1;
        case 0x02:
            return 0;
        case 0x03:
            return 7;  // SIMM
        case 0x04:
            return 2;  // SIP
        case 0x06:
            return 3;  // DIP
        case 0x07:
            return 4;  // ZIP
        case 0x08:
            return 6;  // proprietary card
        case 0x09:
            return 8;  // DIMM
        case 0x0A:
            return 9;  // TSOP
        case 0x0C:
            return 11;  // RIMM
        case 0x0D:
            return 12;  // SODIMM
        case 0x0E:
            return 13;  // SRIMM
        case 0x00:
            return 0;
        default:
            return 1;
    }
}

// SMBIOS memory types to the older list MemoryType uses; it ends at DDR4, so
// newer kinds (LPDDR, DDR5, HBM) are "Unknown" there and SMBIOSMemoryType
// carries them, as on Windows.
std::int64_t memoryType(std::uint8_t smbios) {
    if (smbios == 0x01) return 1;
    if (smbios >= 0x03 && smbios <= 0x14) {
        static const std::int64_t kTable[] = {2,  6,  7,  8,  9,  10, 11, 12, 13,
                                              14, 15, 16, 17, 18, 19, 20, 21, 22};
        return kTable[smbios - 0x03];
    }
    if (smbios == 0x18) return 24;
    if (smbios == 0x19) return 25;
    if (smbios == 0x1A) return 26;
    return 0;
}

}  // namespace

std::vector<MemoryDevice> parseSmbiosMemoryDevices(std::string_view table) {
    std::vector<MemoryDevice> out;
    int index = 0;
    std::size_t at = 0;
    while (at + 4 <= table.size()) {
        const std::uint8_t type = byte(table, at);
        const std::uint8_t length = byte(table, at + 1);
        if (length < 4 || at + length > table.size()) break;
        // The string set follows the formatted area and ends with two NULs.
        const std::size_t stringsStart = at + length;
        const std::size_t end = table.find(std::string_view("\0\0", 2), stringsStart);
        if (end == std::string_view::npos) break;
        std::vector<std::string_view> strings;
        // A structure without strings still has its two NULs, one of them
        // right at the start of the (empty) string set.
        if (end > stringsStart)
            strings = text::split(table.substr(stringsStart, end - stringsStart), '\0');
        if (type == 17) {
            MemoryDevice m = parseType17(table.substr(at, length), strings);
            m.index = index++;
            out.push_back(std::move(m));
        }
        if (type == 127) break;  // end of table
        at = end + 2;
    }
    return out;
}

std::vector<Instance> producePhysicalMemory(const SystemContext& ctx) {
    std::vector<Instance> out;
    const auto table = ctx.readFile("/sys/firmware/dmi/tables/DMI");
    if (!table) return out;
    for (const MemoryDevice& m : parseSmbiosMemoryDevices(*table)) {
        if (!m.populated) continue;
        Instance p("Win32_PhysicalMemory");
        p.set("Name", "Physical Memory");
        p.set("Caption", "Physical Memory");
        p.set("Description", "Physical Memory");
        p.set("CreationClassName", "Win32_PhysicalMemory");
        p.set("Tag", "Physical Memory " + std::to_string(m.index));
        if (m.sizeBytes) p.setUInt64("Capacity", *m.sizeBytes);
        if (m.bankLocator) p.set("BankLabel", *m.bankLocator);
        if (m.deviceLocator) p.set("DeviceLocator", *m.deviceLocator);
        if (m.manufacturer) p.set("Manufacturer", *m.manufacturer);
        if (m.partNumber) p.set("PartNumber", *m.partNumber);
        if (m.serialNumber) p.set("SerialNumber", *m.serialNumber);
        if (m.speed) p.setInt("Speed", *m.speed);
        if (m.configuredSpeed) p.setInt("ConfiguredClockSpeed", *m.configuredSpeed);
        if (m.dataWidth) p.setInt("DataWidth", *m.dataWidth);
        if (m.totalWidth) p.setInt("TotalWidth", *m.totalWidth);
        if (m.rank) p.setInt("Attributes", *m.rank);
        if (m.minVoltage) p.setInt("MinVoltage", *m.minVoltage);
        if (m.maxVoltage) p.setInt("MaxVoltage", *m.maxVoltage);
        if (m.configuredVoltage) p.setInt("ConfiguredVoltage", *m.configuredVoltage);
        p.setInt("FormFactor", formFactor(m.formFactor));
        p.setInt("MemoryType", memoryType(m.memoryType));
        p.setInt("SMBIOSMemoryType", m.memoryType);
        p.setInt("TypeDetail", m.typeDetail);
        out.push_back(std::move(p));
    }
    return out;
}

}  // namespace tavo::linuxwmi
