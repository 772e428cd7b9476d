#include <gtest/gtest.h>

#include "inventory_test_support.h"
#include "platform/linux/wmi/inventory_classes.h"

namespace tavo::linuxwmi {
namespace {

using namespace inventory_test;
using wmi::Value;

TEST(InventoryBattery, ListsOnlyTheSystemsOwnBatteriesThatArePresent) {
    const auto all = produceBatteries(fixture("batteries"));
    // The AC adapter, the mouse's battery and the empty bay are left out.
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(prop(all[0], "DeviceID"), Value("BAT0"));
    EXPECT_EQ(prop(all[1], "DeviceID"), Value("BAT1"));
}

TEST(InventoryBattery, DischargingEnergyBatteryGivesChargeRunTimeAndCapacities) {
    const auto all = produceBatteries(fixture("batteries"));
    const Instance& b = byKey(all, "DeviceID", "BAT0");
    EXPECT_EQ(prop(b, "Name"), Value("5B10W13930"));
    EXPECT_EQ(prop(b, "BatteryStatus"), Value(1));
    EXPECT_EQ(prop(b, "Chemistry"), Value(6));
    EXPECT_EQ(prop(b, "EstimatedChargeRemaining"), Value(80));
    // 40 Wh left at 10 W.
    EXPECT_EQ(prop(b, "EstimatedRunTime"), Value(240));
    EXPECT_TRUE(prop(b, "TimeToFullCharge").isNull());
    EXPECT_EQ(prop(b, "DesignVoltage"), Value("11520"));
    EXPECT_EQ(prop(b, "DesignCapacity"), Value(57000));
    EXPECT_EQ(prop(b, "FullChargeCapacity"), Value(50000));
    EXPECT_EQ(prop(b, "PNPDeviceID"), Value("ACPI\\PNP0C0A\\1"));
    EXPECT_EQ(prop(b, "Status"), Value("OK"));
}

TEST(InventoryBattery, ChargingChargeBatteryConvertsAtDesignVoltageAndReportsHealth) {
    const auto all = produceBatteries(fixture("batteries"));
    const Instance& b = byKey(all, "DeviceID", "BAT1");
    // No model name: the kernel's name stands in.
    EXPECT_EQ(prop(b, "Name"), Value("BAT1"));
    EXPECT_EQ(prop(b, "BatteryStatus"), Value(6));
    EXPECT_EQ(prop(b, "Chemistry"), Value(8));
    // 4 Ah and 3 Ah at 7.6 V.
    EXPECT_EQ(prop(b, "DesignCapacity"), Value(30400));
    EXPECT_EQ(prop(b, "FullChargeCapacity"), Value(22800));
    // No percentage file: computed from charge now and full.
    EXPECT_EQ(prop(b, "EstimatedChargeRemaining"), Value(50));
    // 1.5 Ah missing at 1 A, though the driver gives the current negative.
    EXPECT_EQ(prop(b, "TimeToFullCharge"), Value(90));
    EXPECT_TRUE(prop(b, "EstimatedRunTime").isNull());
    EXPECT_TRUE(prop(b, "PNPDeviceID").isNull());
    EXPECT_EQ(prop(b, "Status"), Value("Degraded"));
}

TEST(InventoryBattery, NoBatteryOrNoPowerSupplyClassGivesNoInstances) {
    EXPECT_TRUE(produceBatteries(fixture("no_battery")).empty());
    EXPECT_TRUE(produceBatteries(fixture("does-not-exist")).empty());
}

}  // namespace
}  // namespace tavo::linuxwmi
