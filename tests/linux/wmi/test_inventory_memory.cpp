#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "inventory_test_support.h"
#include "platform/linux/wmi/inventory_classes.h"

namespace tavo::linuxwmi {
namespace {

using inventory_test::prop;
using inventory_test::TempTree;
using wmi::Value;

// Builds SMBIOS structures byte by byte, as firmware lays them out.
class Smbios {
  public:
    Smbios& structure(std::uint8_t type, std::string formatted,
                      std::initializer_list<std::string> strings) {
        formatted[0] = static_cast<char>(type);
        formatted[1] = static_cast<char>(formatted.size());
        table_ += formatted;
        for (const auto& s : strings) table_ += s + '\0';
        if (strings.size() == 0) table_ += '\0';
        table_ += '\0';
        return *this;
    }
    const std::string& bytes() const { return table_; }

  private:
    std::string table_;
};

void putWord(std::string& f, std::size_t at, std::uint16_t v) {
    f[at] = static_cast<char>(v & 0xFF);
    f[at + 1] = static_cast<char>(v >> 8);
}
void putDword(std::string& f, std::size_t at, std::uint32_t v) {
    putWord(f, at, static_cast<std::uint16_t>(v & 0xFFFF));
    putWord(f, at + 2, static_cast<std::uint16_t>(v >> 16));
}

// A memory device record as SMBIOS 3.3 writes it (0x5C bytes).
std::string memoryDevice(std::uint16_t size, std::uint32_t extendedSize, std::uint16_t speed,
                         std::uint16_t configured) {
    std::string f(0x5C, '\0');
    putWord(f, 0x08, 72);  // total width: ECC
    putWord(f, 0x0A, 64);  // data width
    putWord(f, 0x0C, size);
    f[0x0E] = 0x09;            // DIMM
    f[0x10] = 1;               // device locator: string 1
    f[0x11] = 2;               // bank locator: string 2
    f[0x12] = 0x1A;            // DDR4
    putWord(f, 0x13, 0x0080);  // synchronous
    putWord(f, 0x15, speed);
    f[0x17] = 3;  // manufacturer
    f[0x18] = 4;  // serial
    f[0x1A] = 5;  // part number
    f[0x1B] = 2;  // dual rank
    putDword(f, 0x1C, extendedSize);
    putWord(f, 0x20, configured);
    putWord(f, 0x22, 1200);
    putWord(f, 0x24, 1200);
    putWord(f, 0x26, 1200);
    return f;
}

std::string twoDimmTable() {
    Smbios t;
    t.structure(0, std::string(0x18, '\0'), {"Vendor", "1.0"})  // BIOS, skipped
        .structure(17, memoryDevice(0x4000, 0, 3200, 2933),
                   {"DIMM_A1", "BANK 0", "Samsung", "0x1234ABCD", "M378A2K43CB1-CTD   "})
        // An empty slot: size 0, and no maker, serial or part strings (a
        // string set holds no empty strings; index 0 means none).
        .structure(17,
                   [] {
                       std::string f = memoryDevice(0, 0, 0, 0);
                       f[0x17] = f[0x18] = f[0x1A] = 0;
                       return f;
                   }(),
                   {"DIMM_A2", "BANK 1"})
        // 64 GiB needs the extended size; the speeds need their 32-bit fields.
        .structure(17,
                   [] {
                       std::string f = memoryDevice(0x7FFF, 65536, 0xFFFF, 0xFFFF);
                       putDword(f, 0x54, 70000);
                       putDword(f, 0x58, 65000);
                       return f;
                   }(),
                   {"DIMM_B1", "BANK 2", "Micron", "", "MTC40F2046S1RC48BA1"})
        .structure(127, std::string(4, '\0'), {});
    return t.bytes();
}

TEST(InventoryMemory, ParsesEveryMemoryDeviceRecordWithSizesAndSpeeds) {
    const auto devices = parseSmbiosMemoryDevices(twoDimmTable());
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_TRUE(devices[0].populated);
    EXPECT_EQ(devices[0].sizeBytes, std::uint64_t{16} << 30);
    EXPECT_EQ(devices[0].speed, 3200u);
    EXPECT_EQ(devices[0].configuredSpeed, 2933u);
    EXPECT_EQ(devices[0].partNumber, "M378A2K43CB1-CTD");
    EXPECT_FALSE(devices[1].populated);
    EXPECT_EQ(devices[1].manufacturer, std::nullopt);
    EXPECT_EQ(devices[2].sizeBytes, std::uint64_t{64} << 30);
    EXPECT_EQ(devices[2].speed, 70000u);
    EXPECT_EQ(devices[2].configuredSpeed, 65000u);
    EXPECT_EQ(devices[2].serialNumber, std::nullopt);
}

TEST(InventoryMemory, OldShortRecordsAndKilobyteSizesAreRead) {
    // An SMBIOS 2.1 record stops after the type detail: no speed, no strings
    // beyond the locators.
    std::string f(0x15, '\0');
    putWord(f, 0x0C, 0x8000 | 512);  // 512 KiB
    f[0x10] = 1;
    f[0x12] = 0x03;  // DRAM
    Smbios t;
    t.structure(17, f, {"SIMM1"});
    const auto devices = parseSmbiosMemoryDevices(t.bytes());
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].sizeBytes, 512u * 1024);
    EXPECT_EQ(devices[0].deviceLocator, "SIMM1");
    EXPECT_EQ(devices[0].speed, std::nullopt);
    EXPECT_EQ(devices[0].manufacturer, std::nullopt);
}

TEST(InventoryMemory, TruncatedOrMalformedTablesStopWithoutReadingPastTheEnd) {
    const std::string table = twoDimmTable();
    // Every prefix of the table parses without fault and finds no more
    // records than the whole.
    for (std::size_t n = 0; n < table.size(); ++n) {
        EXPECT_LE(parseSmbiosMemoryDevices(std::string_view(table).substr(0, n)).size(), 3u);
    }
    // A length below the header size would never advance.
    EXPECT_TRUE(parseSmbiosMemoryDevices(std::string("\x11\x02\x00\x00\x00\x00", 6)).empty());
    // A string index past the string set reads as no string.
    std::string f = memoryDevice(1024, 0, 0, 0);
    Smbios t;
    t.structure(17, f, {"only one"});
    const auto devices = parseSmbiosMemoryDevices(t.bytes());
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].deviceLocator, "only one");
    EXPECT_EQ(devices[0].partNumber, std::nullopt);
}

TEST(InventoryMemory, OneInstancePerPopulatedSlotFromTheFirmwareTable) {
    TempTree tree;
    tree.write("/sys/firmware/dmi/tables/DMI", twoDimmTable());
    const auto all = producePhysicalMemory(tree.context());
    ASSERT_EQ(all.size(), 2u);
    const Instance& a = all[0];
    EXPECT_EQ(prop(a, "DeviceLocator"), Value("DIMM_A1"));
    EXPECT_EQ(prop(a, "BankLabel"), Value("BANK 0"));
    EXPECT_EQ(prop(a, "Capacity"), Value("17179869184"));
    EXPECT_EQ(prop(a, "Speed"), Value(3200));
    EXPECT_EQ(prop(a, "ConfiguredClockSpeed"), Value(2933));
    EXPECT_EQ(prop(a, "Manufacturer"), Value("Samsung"));
    EXPECT_EQ(prop(a, "SerialNumber"), Value("0x1234ABCD"));
    EXPECT_EQ(prop(a, "FormFactor"), Value(8));
    EXPECT_EQ(prop(a, "MemoryType"), Value(26));
    EXPECT_EQ(prop(a, "SMBIOSMemoryType"), Value(26));
    EXPECT_EQ(prop(a, "DataWidth"), Value(64));
    EXPECT_EQ(prop(a, "TotalWidth"), Value(72));
    EXPECT_EQ(prop(a, "Attributes"), Value(2));
    EXPECT_EQ(prop(a, "Tag"), Value("Physical Memory 0"));
    // The empty slot keeps its number: the next module is the third record.
    EXPECT_EQ(prop(all[1], "Tag"), Value("Physical Memory 2"));
    EXPECT_EQ(prop(all[1], "Capacity"), Value("68719476736"));
    EXPECT_TRUE(prop(all[1], "SerialNumber").isNull());
    for (const auto& i : all) inventory_test::expectCimTypes(i);
}

TEST(InventoryMemory, MissingOrUnreadableTableGivesNoInstancesAndNoError) {
    TempTree none;
    EXPECT_TRUE(producePhysicalMemory(none.context()).empty());
    // Running as root reads any file, so unreadability is made with a
    // directory where the table should be.
    TempTree dir;
    std::filesystem::create_directories(dir.root() / "sys/firmware/dmi/tables/DMI");
    EXPECT_TRUE(producePhysicalMemory(dir.context()).empty());
    TempTree link;
    std::filesystem::create_directories(link.root() / "sys/firmware/dmi/tables");
    std::filesystem::create_symlink("/nonexistent/DMI",
                                    link.root() / "sys/firmware/dmi/tables/DMI");
    EXPECT_TRUE(producePhysicalMemory(link.context()).empty());
}

}  // namespace
}  // namespace tavo::linuxwmi
