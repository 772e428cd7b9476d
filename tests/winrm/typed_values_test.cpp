// Values are typed from the class table, never guessed from the XML: the
// same XML text means a number, a string or a one-element array depending
// on the property.

#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>

#include <string>

#include "grid/error.h"
#include "platform/linux/winrm/dmtf.h"
#include "platform/linux/winrm/reply_parser.h"
#include "platform/linux/winrm/wsman_object.h"
#include "winrm/fixture_text.h"

namespace tavo::winrm {
namespace {

using testing::fixtureReply;
using V = wmi::Value;

std::vector<std::unique_ptr<wmi::Object>> objects(const std::string& file,
                                                  const std::string& queried) {
    ObjectMaker maker(queried);
    std::vector<std::unique_ptr<wmi::Object>> out;
    for (auto& item : parseReply(fixtureReply(file)).items) out.push_back(maker.make(item));
    return out;
}

TEST(TypedValues, ScalarsArraysAndNullsFollowTheClassTable) {
    const auto nics = objects("Win32_NetworkAdapterConfiguration/page-1.xml",
                              "Win32_NetworkAdapterConfiguration");
    const wmi::Object& nic = *nics.at(0);
    EXPECT_EQ(nic.get("Index"), V(7));
    EXPECT_EQ(nic.get("IPEnabled"), V(true));
    EXPECT_EQ(nic.get("IPAddress"), V(V::Array{V("10.30.40.64"), V("fe80::9d1c:2b77:41a0:c3e5")}));
    // One gateway looks like a scalar in the XML; it is still an array.
    EXPECT_EQ(nic.get("DefaultIPGateway"), V(V::Array{V("10.30.40.1")}));
    EXPECT_EQ(nic.getAt("DefaultIPGateway", 0), V("10.30.40.1"));
    EXPECT_EQ(nic.get("GatewayCostMetric"), V(V::Array{V(0)}));
    // Left out: a null array. Nil: a null scalar.
    EXPECT_TRUE(nic.get("IPSecPermitTCPPorts").isNull());
    EXPECT_TRUE(nic.get("MTU").isNull());
    EXPECT_EQ(nic.get("DHCPLeaseExpires"), V("20261209061240.500000+000"));
    // Names are matched without regard to case, as WMI does.
    EXPECT_EQ(nic.get("macaddress"), V("00:0C:29:4F:8E:35"));
    EXPECT_EQ(nic.get("__CLASS"), V("Win32_NetworkAdapterConfiguration"));

    const auto disks = objects("Win32_LogicalDisk/page-1.xml", "Win32_LogicalDisk");
    EXPECT_EQ(disks[0]->get("VolumeName"), V(""));
    EXPECT_TRUE(disks[1]->get("VolumeName").isNull());
    // uint64 stays decimal text, even past the range of a signed 64-bit number.
    EXPECT_EQ(disks[2]->get("Size"), V("18446744073709551615"));
    EXPECT_EQ(disks[2]->get("DriveType"), V(3));
    EXPECT_EQ(disks[2]->get("VolumeDirty"), V(true));
    EXPECT_EQ(disks[2]->get("VolumeName"), V("Data & Logs <archive>"));
    // Every property of the class is listed, in the order Properties_ gives.
    const auto names = disks[0]->propertyNames();
    EXPECT_EQ(names.size(), 40u);
    EXPECT_EQ(names.front(), "Access");
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const auto& a, const auto& b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }));
    try {
        disks[0]->get("NoSuchProperty");
        ADD_FAILURE() << "an unknown property read as something";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kNotFound);
    }
}

TEST(TypedValues, SubclassesKeepTheirClassAndTheirOwnProperties) {
    const auto page = objects("Win32_Process/page-2.xml", "Win32_Process");
    const wmi::Object& agent = *page.at(1);
    EXPECT_EQ(agent.get("__CLASS"), V("Contoso_AgentProcess"));
    EXPECT_EQ(agent.get("ProcessId"), V(1880));
    EXPECT_EQ(agent.get("EndOfSequence"), V("true"));  // text: the table does not know it
    EXPECT_EQ(agent.get("Tenant"), V("Fabrikam"));
    const auto names = agent.propertyNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "Tenant"), names.end());
    EXPECT_EQ(agent.get("CreationDate"), V("20261208061113.500000-480"));
    // The plain instances beside it do not grow the subclass's properties.
    EXPECT_THROW(page.at(0)->get("Tenant"), Error);

    const auto accounts = objects("Win32_Account/page-1.xml", "Win32_Account");
    ASSERT_EQ(accounts.size(), 3u);
    EXPECT_EQ(accounts[0]->get("__CLASS"), V("Win32_UserAccount"));
    EXPECT_EQ(accounts[0]->get("AccountType"), V(512));  // a Win32_UserAccount property
    EXPECT_EQ(accounts[2]->get("__CLASS"), V("Win32_Group"));
    EXPECT_EQ(accounts[2]->get("SIDType"), V(4));
}

TEST(TypedValues, TextTheTypeCannotReadIsKeptNotLost) {
    auto value = [](std::string text, schema::CimType t, ValueForm form = ValueForm::Text) {
        return typedValue(ReplyProperty{"P", std::move(text), form}, t);
    };
    using T = schema::CimType;
    EXPECT_EQ(value("-480", T::SInt16), V(-480));
    EXPECT_EQ(value(" 42 ", T::UInt32), V(42));
    EXPECT_EQ(value("forty", T::UInt32), V("forty"));
    EXPECT_EQ(value("", T::UInt32), V(""));
    EXPECT_EQ(value("-9223372036854775808", T::SInt64), V("-9223372036854775808"));
    EXPECT_EQ(value("0.1", T::Real32), V(0.1));
    EXPECT_EQ(value("2.5E3", T::Real64), V(2500.0));
    EXPECT_TRUE(value("INF", T::Real64).isReal());
    EXPECT_EQ(value("false", T::Boolean), V(false));
    EXPECT_EQ(value("maybe", T::Boolean), V("maybe"));
    EXPECT_TRUE(value("x", T::String, ValueForm::Nil).isNull());
    EXPECT_TRUE(value("", T::String, ValueForm::Complex).isNull());
    // A datetime with no cim:Datetime wrapper, or already in DMTF form.
    EXPECT_EQ(value("2025-03-09T02:57:32Z", T::DateTime), V("20250309025732.000000+000"));
    EXPECT_EQ(value("20250309025732.000000+000", T::DateTime), V("20250309025732.000000+000"));
    EXPECT_EQ(value("P1DT2H3M4.5S", T::DateTime, ValueForm::Interval),
              V("00000001020304.500000:000"));
    // Invalid UTF-8 from the wire is mended where the value is made.
    EXPECT_EQ(value("caf\xE9", T::String), V("caf\xEF\xBF\xBD"));
}

TEST(TypedValues, ProjectionsListWhatCameTypedByTheClassQueried) {
    const std::string xml =
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
        "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\"><s:Body><n:PullResponse>"
        "<n:Items><w:XmlFragment><Name>C:</Name><DriveType>3</DriveType><InstallDate>"
        "<Datetime>2013-04-15T20:58:50Z</Datetime></InstallDate></w:XmlFragment></n:Items>"
        "<n:EndOfSequence/></n:PullResponse></s:Body></s:Envelope>";
    ObjectMaker maker(classOfQuery("SELECT Name, DriveType FROM Win32_LogicalDisk"));
    auto items = parseReply(xml).items;
    ASSERT_EQ(items.size(), 1u);
    const auto o = maker.make(items[0]);
    EXPECT_EQ(o->get("__CLASS"), V("Win32_LogicalDisk"));
    EXPECT_EQ(o->propertyNames(), (std::vector<std::string>{"Name", "DriveType", "InstallDate"}));
    EXPECT_EQ(o->get("DriveType"), V(3));
    EXPECT_EQ(o->get("InstallDate"), V("20130415205850.000000+000"));
}

struct DateCase {
    const char* xs;
    const char* dmtf;  // nullptr: not of the type
};

TEST(Dmtf, DateTimesAsWmiOverComWritesThem) {
    const DateCase cases[] = {
        {"2013-03-09T02:57:32Z", "20130309025732.000000+000"},
        {"2013-03-09T02:57:32.1234567Z", "20130309025732.123456+000"},
        {"2013-03-09T02:57:32.5+05:30", "20130309025732.500000+330"},
        {"2013-03-09T02:57:32-08:00", "20130309025732.000000-480"},
        {"2013-03-09T02:57:32", "20130309025732.000000+***"},
        {"2013-3-09T02:57:32Z", nullptr},
        {"2013-03-09 02:57:32Z", nullptr},
        {"2013-13-09T02:57:32Z", nullptr},
        {"2013-03-09T02:57:32.Z", nullptr},
        {"2013-03-09T02:57:32Zjunk", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const auto got = dmtfFromXsDateTime(c.xs);
        if (c.dmtf) {
            EXPECT_EQ(got.value_or("<none>"), c.dmtf) << c.xs;
        } else {
            EXPECT_FALSE(got) << c.xs << " gave " << *got;
        }
    }
    EXPECT_EQ(dmtfFromXsDate("2013-03-09").value_or(""), "20130309******.******+***");
    EXPECT_EQ(dmtfFromXsTime("02:57:32Z").value_or(""), "********025732.000000+000");
}

TEST(Dmtf, IntervalsCarryIntoDaysHoursMinutes) {
    const DateCase cases[] = {
        {"PT0S", "00000000000000.000000:000"},
        {"P3D", "00000003000000.000000:000"},
        {"PT90M", "00000000013000.000000:000"},
        {"PT86400.25S", "00000001000000.250000:000"},
        {"P1DT25H", "00000002010000.000000:000"},
        {"P1Y", nullptr},
        {"-PT1S", nullptr},
        {"PT", nullptr},
        {"P", nullptr},
        {"PT1.S", nullptr},
        {"P999999999999D", nullptr},
    };
    for (const auto& c : cases) {
        const auto got = dmtfFromXsDuration(c.xs);
        if (c.dmtf) {
            EXPECT_EQ(got.value_or("<none>"), c.dmtf) << c.xs;
        } else {
            EXPECT_FALSE(got) << c.xs << " gave " << *got;
        }
    }
}

}  // namespace
}  // namespace tavo::winrm
