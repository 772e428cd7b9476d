#include <gtest/gtest.h>

#include "inventory_test_support.h"
#include "platform/linux/wmi/inventory_classes.h"

namespace tavo::linuxwmi {
namespace {

using namespace inventory_test;
using wmi::Value;

TEST(InventoryDisk, WholeDiskNamesOnly) {
    for (const char* yes :
         {"sda", "sdaa", "vdb", "xvda", "hdc", "nvme0n1", "nvme12n3", "mmcblk0"}) {
        EXPECT_TRUE(isWholeDiskName(yes)) << yes;
    }
    for (const char* no : {"sda1", "loop0", "zram0", "dm-0", "md127", "nvme0c0n1", "nvme0",
                           "nvme0n1p1", "mmcblk0boot0", "mmcblk0rpmb", "mmcblk0p1", "sr0", "sd"}) {
        EXPECT_FALSE(isWholeDiskName(no)) << no;
    }
}

TEST(InventoryDisk, DisksInIndexOrderWithoutVirtualOrHiddenOnes) {
    const auto all = produceDiskDrives(fixture("disks"));
    std::vector<std::string> names;
    for (const auto& d : all) names.push_back(prop(d, "DeviceID").text());
    EXPECT_EQ(names,
              (std::vector<std::string>{"/dev/sda", "/dev/sdb", "/dev/nvme0n1", "/dev/vda"}));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(prop(all[i], "Index"), Value(static_cast<int>(i)));
        inventory_test::expectCimTypes(all[i]);
    }
}

TEST(InventoryDisk, SataDiskBehindLibata) {
    const auto all = produceDiskDrives(fixture("disks"));
    const Instance& d = byKey(all, "DeviceID", "/dev/sda");
    EXPECT_EQ(prop(d, "Name"), Value("/dev/sda"));
    // "ATA" is the bus, not a maker.
    EXPECT_EQ(prop(d, "Model"), Value("Samsung SSD 860"));
    EXPECT_EQ(prop(d, "Caption"), Value("Samsung SSD 860"));
    EXPECT_TRUE(prop(d, "Manufacturer").isNull());
    EXPECT_EQ(prop(d, "SerialNumber"), Value("S3Z9NB0K1234"));
    EXPECT_EQ(prop(d, "FirmwareRevision"), Value("RVT0"));
    EXPECT_EQ(prop(d, "Size"), Value("500107862016"));
    EXPECT_EQ(prop(d, "BytesPerSector"), Value(512));
    EXPECT_EQ(prop(d, "Partitions"), Value(2));
    EXPECT_EQ(prop(d, "InterfaceType"), Value("IDE"));
    EXPECT_EQ(prop(d, "MediaType"), Value("Fixed hard disk media"));
    EXPECT_EQ(prop(d, "PNPDeviceID"),
              Value("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0"));
    EXPECT_EQ(prop(d, "SCSIPort"), Value(0));
    EXPECT_EQ(prop(d, "SCSILogicalUnit"), Value(0));
    EXPECT_EQ(prop(d, "Capabilities"), Value(Value::Array{Value(3), Value(4)}));
    EXPECT_EQ(prop(d, "Status"), Value("OK"));
}

TEST(InventoryDisk, UsbStickWithoutMediumNvmeAndReadOnlyVirtioDisk) {
    const auto all = produceDiskDrives(fixture("disks"));
    const Instance& usb = byKey(all, "DeviceID", "/dev/sdb");
    EXPECT_EQ(prop(usb, "InterfaceType"), Value("USB"));
    EXPECT_EQ(prop(usb, "MediaType"), Value("Removable Media"));
    EXPECT_EQ(prop(usb, "Model"), Value("SanDisk Cruzer Blade"));
    EXPECT_EQ(prop(usb, "Manufacturer"), Value("SanDisk"));
    EXPECT_EQ(prop(usb, "MediaLoaded"), Value(false));
    EXPECT_TRUE(prop(usb, "Size").isNull());
    EXPECT_EQ(prop(usb, "SCSIPort"), Value(6));
    EXPECT_EQ(prop(usb, "Capabilities"), Value(Value::Array{Value(3), Value(4), Value(7)}));

    const Instance& nvme = byKey(all, "DeviceID", "/dev/nvme0n1");
    EXPECT_EQ(prop(nvme, "Model"), Value("WDC PC SN730 SDBQNTY-512G-1001"));
    EXPECT_EQ(prop(nvme, "SerialNumber"), Value("20312S800947"));
    EXPECT_EQ(prop(nvme, "FirmwareRevision"), Value("11170101"));
    EXPECT_EQ(prop(nvme, "BytesPerSector"), Value(4096));
    EXPECT_EQ(prop(nvme, "Size"), Value("1024209543168"));
    EXPECT_EQ(prop(nvme, "TotalSectors"), Value("250051158"));
    EXPECT_EQ(prop(nvme, "Partitions"), Value(1));
    EXPECT_EQ(prop(nvme, "PNPDeviceID"), Value("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0"));
    EXPECT_TRUE(prop(nvme, "SCSIPort").isNull());

    const Instance& vda = byKey(all, "DeviceID", "/dev/vda");
    EXPECT_TRUE(prop(vda, "Model").isNull());
    EXPECT_EQ(prop(vda, "Caption"), Value("/dev/vda"));
    EXPECT_EQ(prop(vda, "SerialNumber"), Value("1856636329753954"));
    EXPECT_EQ(prop(vda, "Capabilities"), Value(Value::Array{Value(3)}));
    EXPECT_EQ(prop(vda, "CapabilityDescriptions"), Value(Value::Array{Value("Random Access")}));
}

TEST(InventoryDisk, NoBlockDevicesGivesNoInstances) {
    EXPECT_TRUE(produceDiskDrives(fixture("no_samba")).empty());
}

}  // namespace
}  // namespace tavo::linuxwmi
