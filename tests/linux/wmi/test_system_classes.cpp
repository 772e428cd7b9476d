#include <gtest/gtest.h>
#include <unistd.h>
#include <utmp.h>

#include <cstring>

#include "linux/wmi/cim_type_check.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/smbios.h"
#include "platform/linux/wmi/system_classes.h"
#include "platform/linux/wmi/system_sources.h"

namespace tavo::linuxwmi {
namespace {

const std::string kTwoSockets = std::string(TAVO_TEST_DATA) + "/system/twosocket";
const std::string kArmBoard = std::string(TAVO_TEST_DATA) + "/system/armboard";

SystemContext fixture(const std::string& root) {
    SystemContext ctx;
    ctx.root = root;
    return ctx;
}

wmi::Value val(const Instance& i, std::string_view name) {
    const wmi::Value* v = i.find(name);
    EXPECT_NE(v, nullptr) << name;
    return v ? *v : wmi::Value();
}

// ---- parsers on text ------------------------------------------------------

TEST(SystemParsers, OsReleaseQuotingAndNoise) {
    const auto vars = parseShellAssignments(
        "# comment\n"
        "NAME=\"Debian GNU/Linux\"\n"
        "PRETTY_NAME=\"Say \\\"hi\\\" \\\\ there\"\n"
        "ID=debian\n"
        "VERSION_CODENAME='book worm'\n"
        "  \n"
        "BROKEN=\"never closed\n"
        "no equals sign\n"
        "WITH SPACE=1\n"
        "EMPTY=\n");
    EXPECT_EQ(vars.at("NAME"), "Debian GNU/Linux");
    EXPECT_EQ(vars.at("PRETTY_NAME"), "Say \"hi\" \\ there");
    EXPECT_EQ(vars.at("ID"), "debian");
    EXPECT_EQ(vars.at("VERSION_CODENAME"), "book worm");
    EXPECT_EQ(vars.at("EMPTY"), "");
    EXPECT_FALSE(vars.contains("BROKEN"));
    EXPECT_FALSE(vars.contains("WITH SPACE"));
    EXPECT_EQ(vars.size(), 5u);
}

TEST(SystemParsers, CpuInfoOfTwoSocketsGroupsByPhysicalId) {
    std::string text;
    // Listed interleaved, as some firmware numbers them: 0 and 2 on socket 0.
    for (int cpu = 0; cpu < 4; ++cpu) {
        text += "processor\t: " + std::to_string(cpu) + "\nvendor_id\t: GenuineIntel\n";
        text += "physical id\t: " + std::to_string(cpu % 2) + "\n";
        text += "core id\t\t: " + std::to_string(cpu / 2) + "\n";
        text += "model name\t: Xeon  \n\n";
    }
    const auto blocks = parseCpuInfo(text);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].at("model name"), "Xeon");

    const auto sockets = groupSockets(blocks);
    ASSERT_EQ(sockets.size(), 2u);
    EXPECT_EQ(sockets[0].packageId, 0);
    EXPECT_EQ(sockets[0].cpus, (std::vector<int>{0, 2}));
    EXPECT_EQ(sockets[1].cpus, (std::vector<int>{1, 3}));
    EXPECT_EQ(sockets[1].coreIds.size(), 2u);
    EXPECT_EQ(sockets[1].first->at("processor"), "1");
}

TEST(SystemParsers, ArmCpuInfoDropsMachineBlockAndUsesTopology) {
    const std::string text =
        "processor\t: 0\nBogoMIPS\t: 108.00\nCPU implementer\t: 0x41\n\n"
        "processor\t: 1\nBogoMIPS\t: 108.00\n\n"
        "processor\t: 2\nBogoMIPS\t: 108.00\n\n"
        "Hardware\t: BCM2835\nRevision\t: d03114\n";
    const auto blocks = parseCpuInfo(text);
    ASSERT_EQ(blocks.size(), 3u);
    // Without "physical id" the sysfs package numbers decide; -1 (unknown) is package 0.
    const auto sockets = groupSockets(blocks, {{0, 0}, {1, -1}, {2, 1}});
    ASSERT_EQ(sockets.size(), 2u);
    EXPECT_EQ(sockets[0].cpus, (std::vector<int>{0, 1}));
    EXPECT_EQ(sockets[1].cpus, (std::vector<int>{2}));
}

TEST(SystemParsers, MemInfoAndBootTime) {
    const auto mem = parseMemInfo("MemTotal:  1024 kB\nHugePages_Total:  3\nBad line\nX: y kB\n");
    EXPECT_EQ(mem.at("MemTotal"), 1024u);
    EXPECT_EQ(mem.at("HugePages_Total"), 3u);
    EXPECT_EQ(mem.size(), 2u);

    EXPECT_EQ(parseBootTime("cpu 1 2 3\nbtime 1700000000\n"), 1700000000);
    EXPECT_FALSE(parseBootTime("cpu 1 2 3\nbtimex 5\n"));
}

TEST(SystemParsers, LoadPercentageBetweenSamples) {
    const auto before =
        parseProcStatCpus("cpu  1 1 1 1\ncpu0 100 0 0 100 0 0 0 0 0 0\ncpu1 100 0 0 100 0 0 0 0\n");
    // cpu0: 30 busy of 100; cpu1: 100 busy of 100 (iowait counts as idle).
    const auto after =
        parseProcStatCpus("cpu0 120 0 10 170 0 0 0 0 5 0\ncpu1 150 20 30 100 0 0 0 0\n");
    ASSERT_EQ(before.size(), 2u);
    EXPECT_EQ(loadPercentage(before, after, {0}), 30);
    EXPECT_EQ(loadPercentage(before, after, {1}), 100);
    EXPECT_EQ(loadPercentage(before, after, {0, 1}), 65);
    // No time passed, or an unknown processor: no figure rather than 0 %.
    EXPECT_FALSE(loadPercentage(before, before, {0, 1}));
    EXPECT_FALSE(loadPercentage(before, after, {7}));
    // A counter that went backwards (processor taken offline) is ignored.
    EXPECT_FALSE(loadPercentage(after, before, {0}));
}

TEST(SystemParsers, UtmpSessionsAndConsoleUser) {
    const auto record = [](short type, const char* line, const char* user) {
        struct utmp u;
        std::memset(&u, 0, sizeof u);
        u.ut_type = type;
        std::strncpy(u.ut_line, line, sizeof u.ut_line - 1);
        std::strncpy(u.ut_user, user, sizeof u.ut_user - 1);
        return std::string(reinterpret_cast<const char*>(&u), sizeof u);
    };
    std::string data = record(BOOT_TIME, "~", "reboot") + record(USER_PROCESS, "pts/3", "remote") +
                       record(DEAD_PROCESS, "tty2", "") + record(USER_PROCESS, "tty1", "local") +
                       record(USER_PROCESS, ":0", "gui");
    EXPECT_EQ(countUtmpSessions(data), 3);
    EXPECT_EQ(consoleUserFromUtmp(data), "local");
    // A file cut short mid-record (being rewritten) counts whole records only.
    EXPECT_EQ(countUtmpSessions(data.substr(0, data.size() - 10)), 2);
    EXPECT_FALSE(consoleUserFromUtmp(record(USER_PROCESS, "pts/0", "ssh")));
    EXPECT_EQ(countUtmpSessions(""), 0);
}

TEST(SystemParsers, FirmwareDatesAndCpuLists) {
    EXPECT_EQ(dmtfFromFirmwareDate("05/23/2019\n"), "20190523000000.000000+000");
    EXPECT_FALSE(dmtfFromFirmwareDate("2019-05-23"));
    EXPECT_FALSE(dmtfFromFirmwareDate("13/01/2019"));
    EXPECT_FALSE(dmtfFromFirmwareDate(""));

    EXPECT_EQ(parseCpuList("0-3,8,10-11\n"), (std::vector<int>{0, 1, 2, 3, 8, 10, 11}));
    EXPECT_EQ(parseCpuList("5"), (std::vector<int>{5}));
    EXPECT_TRUE(parseCpuList("3-1,x").empty());
}

TEST(SystemParsers, SmbiosStructuresAndStrings) {
    using namespace std::string_literals;
    // type 4 naming strings 1 and 2 (and 0: none, 5: out of range), then a
    // type 2 with an empty string set, the end marker, and junk after it.
    const std::string table = "\x04\x08\x40\x00\x01\x00\x02\x05"s + "CPU0\0Acme\0\0"s +
                              "\x02\x05\x02\x00\x09\0\0"s + "\x7f\x04\xff\xfe\0\0"s + "junk"s;
    const auto all = parseSmbiosTable(table);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].type, 4);
    EXPECT_EQ(all[0].stringAt(0x04), "CPU0");
    EXPECT_EQ(all[0].stringAt(0x06), "Acme");
    EXPECT_FALSE(all[0].stringAt(0x05));  // index 0: no string
    EXPECT_FALSE(all[0].stringAt(0x07));  // index past the set
    EXPECT_FALSE(all[0].wordAt(0x07));    // past the formatted area
    EXPECT_EQ(all[1].byteAt(0x04), 0x09);
    EXPECT_TRUE(all[1].strings.empty());
    EXPECT_EQ(all[2].type, 127);

    // A table cut inside a string set keeps only the whole structures.
    EXPECT_EQ(parseSmbiosTable(table.substr(0, 12)).size(), 0u);
    EXPECT_EQ(parseSmbiosTable(table.substr(0, 22)).size(), 1u);
    // A length below the header size is malformed: nothing from there on.
    EXPECT_TRUE(parseSmbiosTable("\x04\x02\x00\x00\0\0"s).empty());

    EXPECT_EQ(parseSmbiosVersion("_SM3_\x00\x18\x03\x05\x00"s), std::pair(3, 5));
    EXPECT_EQ(parseSmbiosVersion("_SM_\x00\x1f\x02\x08"s), std::pair(2, 8));
    EXPECT_FALSE(parseSmbiosVersion("_DMI_"));
}

// ---- classes over fixture trees -------------------------------------------

TEST(SystemClasses, OperatingSystemFromFixture) {
    const auto all = operatingSystemInstances(fixture(kTwoSockets));
    ASSERT_EQ(all.size(), 1u);
    const Instance& os = all[0];
    EXPECT_EQ(val(os, "Caption"), wmi::Value("Tavo Linux 7.2 (Quiet \"Quokka\")"));
    EXPECT_EQ(val(os, "Name"), val(os, "Caption"));
    EXPECT_EQ(val(os, "Version"), wmi::Value("6.6.15-tavo"));
    // The kernel's build count ("#1 SMP ..."), digits as in WMI.
    EXPECT_EQ(val(os, "BuildNumber"), wmi::Value("1"));
    EXPECT_EQ(val(os, "Manufacturer"), wmi::Value("Example Software"));
    EXPECT_EQ(val(os, "OSArchitecture"), wmi::Value("64-bit"));
    EXPECT_EQ(val(os, "OSType"), wmi::Value(36));
    EXPECT_EQ(val(os, "CSName"), wmi::Value("BENCH3"));
    EXPECT_EQ(val(os, "Status"), wmi::Value("OK"));
    EXPECT_EQ(val(os, "LastBootUpTime"), wmi::Value(dmtfDateTime(1700000000)));
    // de_DE.UTF-8 in WMI's form: a locale identifier and a code page.
    EXPECT_EQ(val(os, "Locale"), wmi::Value("0407"));
    EXPECT_EQ(val(os, "CodeSet"), wmi::Value("65001"));
    EXPECT_EQ(val(os, "Description"), wmi::Value("Lab bench 3"));
    EXPECT_EQ(val(os, "SerialNumber"), wmi::Value("3f2c9a1b7d4e4f60a1b2c3d4e5f60718"));
    EXPECT_EQ(val(os, "SystemDevice"), wmi::Value("/dev/nvme0n1p2"));
    EXPECT_EQ(val(os, "DataExecutionPrevention_Available"), wmi::Value(true));
    // Memory in kB; 64-bit figures as decimal text.
    EXPECT_EQ(val(os, "TotalVisibleMemorySize"), wmi::Value("32768000"));
    EXPECT_EQ(val(os, "FreePhysicalMemory"), wmi::Value("20000000"));
    EXPECT_EQ(val(os, "SizeStoredInPagingFiles"), wmi::Value("8000000"));
    EXPECT_EQ(val(os, "FreeSpaceInPagingFiles"), wmi::Value("7500000"));
    EXPECT_EQ(val(os, "TotalVirtualMemorySize"), wmi::Value("40768000"));
    EXPECT_EQ(val(os, "FreeVirtualMemory"), wmi::Value("27500000"));
    EXPECT_EQ(val(os, "NumberOfProcesses"), wmi::Value(3));
    EXPECT_EQ(val(os, "NumberOfUsers"), wmi::Value(2));
    EXPECT_EQ(val(os, "MaxNumberOfProcesses"), wmi::Value(4194304));
    // What Linux has no equivalent for stays null.
    EXPECT_TRUE(val(os, "ServicePackMajorVersion").isNull());
    EXPECT_TRUE(val(os, "Organization").isNull());
    EXPECT_TRUE(val(os, "WindowsDirectory").isNull());
}

TEST(SystemClasses, ComputerSystemFromFixture) {
    const auto all = computerSystemInstances(fixture(kTwoSockets));
    ASSERT_EQ(all.size(), 1u);
    const Instance& cs = all[0];
    EXPECT_EQ(val(cs, "Name"), wmi::Value("BENCH3"));
    EXPECT_EQ(val(cs, "DNSHostName"), wmi::Value("bench3"));
    // The canonical name in /etc/hosts carries the domain; the workgroup is Samba's.
    EXPECT_EQ(val(cs, "Domain"), wmi::Value("lab.example.org"));
    EXPECT_EQ(val(cs, "Workgroup"), wmi::Value("LABGROUP"));
    // Samba in user mode and no SSSD: a stand-alone workgroup computer.
    EXPECT_EQ(val(cs, "PartOfDomain"), wmi::Value(false));
    EXPECT_EQ(val(cs, "DomainRole"), wmi::Value(0));
    EXPECT_EQ(val(cs, "Manufacturer"), wmi::Value("Example Computers"));
    EXPECT_EQ(val(cs, "Model"), wmi::Value("Workstation 9000"));
    EXPECT_EQ(val(cs, "SystemFamily"), wmi::Value("Workstations"));
    EXPECT_EQ(val(cs, "TotalPhysicalMemory"), wmi::Value("33554432000"));
    EXPECT_EQ(val(cs, "NumberOfProcessors"), wmi::Value(2));
    EXPECT_EQ(val(cs, "NumberOfLogicalProcessors"), wmi::Value(8));
    EXPECT_EQ(val(cs, "SystemType"), wmi::Value("x64-based PC"));
    EXPECT_EQ(val(cs, "HypervisorPresent"), wmi::Value(true));
    // logind's active session on seat0 is uid 1000.
    EXPECT_EQ(val(cs, "UserName"), wmi::Value("BENCH3\\alice"));
    EXPECT_EQ(val(cs, "Status"), wmi::Value("OK"));
    EXPECT_TRUE(val(cs, "PrimaryOwnerName").isNull());
}

TEST(SystemClasses, BiosAndBoardFromFixture) {
    const auto bios = biosInstances(fixture(kTwoSockets));
    ASSERT_EQ(bios.size(), 1u);
    EXPECT_EQ(val(bios[0], "Manufacturer"), wmi::Value("American Megatrends International, LLC."));
    EXPECT_EQ(val(bios[0], "SMBIOSBIOSVersion"), wmi::Value("F.42"));
    EXPECT_EQ(val(bios[0], "Name"), wmi::Value("F.42"));
    EXPECT_EQ(val(bios[0], "ReleaseDate"), wmi::Value("20230523000000.000000+000"));
    EXPECT_EQ(val(bios[0], "SerialNumber"), wmi::Value("SYS-0042"));
    EXPECT_EQ(val(bios[0], "SystemBiosMajorVersion"), wmi::Value(5));
    EXPECT_EQ(val(bios[0], "SystemBiosMinorVersion"), wmi::Value(27));
    EXPECT_EQ(val(bios[0], "EmbeddedControllerMajorVersion"), wmi::Value(3));
    EXPECT_EQ(val(bios[0], "EmbeddedControllerMinorVersion"), wmi::Value(10));
    EXPECT_EQ(val(bios[0], "BIOSVersion"), wmi::Value(wmi::Value::Array{wmi::Value("F.42")}));
    EXPECT_EQ(val(bios[0], "Status"), wmi::Value("OK"));
    EXPECT_EQ(val(bios[0], "SMBIOSMajorVersion"), wmi::Value(3));
    EXPECT_EQ(val(bios[0], "SMBIOSMinorVersion"), wmi::Value(3));
    // Bits 4, 7, 11 of the word; ACPI (40), UEFI (50) and VM (51) from the extension bytes.
    wmi::Value::Array bits;
    for (int b : {4, 7, 11, 40, 50, 51}) bits.emplace_back(b);
    EXPECT_EQ(val(bios[0], "BiosCharacteristics"), wmi::Value(bits));

    const auto board = baseBoardInstances(fixture(kTwoSockets));
    ASSERT_EQ(board.size(), 1u);
    EXPECT_EQ(val(board[0], "Manufacturer"), wmi::Value("Example Boards Inc."));
    EXPECT_EQ(val(board[0], "Product"), wmi::Value("X9000-PRO"));
    EXPECT_EQ(val(board[0], "Version"), wmi::Value("Rev 1.02"));
    EXPECT_EQ(val(board[0], "SerialNumber"), wmi::Value("MB123456789"));
    EXPECT_EQ(val(board[0], "Tag"), wmi::Value("Base Board"));
    // Feature flags 0x09: hosting board, replaceable.
    EXPECT_EQ(val(board[0], "HostingBoard"), wmi::Value(true));
    EXPECT_EQ(val(board[0], "Replaceable"), wmi::Value(true));
    EXPECT_EQ(val(board[0], "Removable"), wmi::Value(false));

    // A board without SMBIOS has neither object, rather than empty ones.
    EXPECT_TRUE(biosInstances(fixture(kArmBoard)).empty());
    EXPECT_TRUE(baseBoardInstances(fixture(kArmBoard)).empty());
}

TEST(SystemClasses, ProcessorPerSocketFromFixture) {
    const auto cpus = processorInstances(fixture(kTwoSockets));
    ASSERT_EQ(cpus.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const Instance& p = cpus[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(val(p, "DeviceID"), wmi::Value("CPU" + std::to_string(i)));
        EXPECT_EQ(val(p, "Name"), wmi::Value("Intel(R) Xeon(R) Gold 6128 CPU @ 3.40GHz"));
        EXPECT_EQ(val(p, "Manufacturer"), wmi::Value("GenuineIntel"));
        EXPECT_EQ(val(p, "Caption"), wmi::Value("Intel64 Family 6 Model 85 Stepping 4"));
        EXPECT_EQ(val(p, "NumberOfCores"), wmi::Value(2));
        EXPECT_EQ(val(p, "NumberOfLogicalProcessors"), wmi::Value(4));
        // Two private 1 MB L2 caches, one shared L3 per socket.
        EXPECT_EQ(val(p, "L2CacheSize"), wmi::Value(2048));
        EXPECT_EQ(val(p, "L3CacheSize"), wmi::Value(19712));
        EXPECT_EQ(val(p, "MaxClockSpeed"), wmi::Value(3700));
        EXPECT_EQ(val(p, "Architecture"), wmi::Value(9));
        EXPECT_EQ(val(p, "AddressWidth"), wmi::Value(64));
        EXPECT_EQ(val(p, "DataWidth"), wmi::Value(64));
        EXPECT_EQ(val(p, "Level"), wmi::Value(6));
        EXPECT_EQ(val(p, "Stepping"), wmi::Value("4"));
        EXPECT_EQ(val(p, "Revision"), wmi::Value(85 * 256 + 4));
        EXPECT_EQ(val(p, "VMMonitorModeExtensions"), wmi::Value(true));
        EXPECT_EQ(val(p, "SystemName"), wmi::Value("BENCH3"));
        // The fixture's counters never move: no load figure rather than 0 %.
        EXPECT_TRUE(val(p, "LoadPercentage").isNull());
        // From the firmware's records of the two populated sockets (a third is empty).
        EXPECT_EQ(val(p, "SocketDesignation"), wmi::Value("CPU" + std::to_string(i + 1)));
        EXPECT_EQ(val(p, "Family"), wmi::Value(179));
        EXPECT_EQ(val(p, "ProcessorId"), wmi::Value("BFEBFBFF00050654"));
        EXPECT_EQ(val(p, "ExtClock"), wmi::Value(100));
        EXPECT_EQ(val(p, "CurrentVoltage"), wmi::Value(16));
        EXPECT_EQ(val(p, "PartNumber"), wmi::Value("PN-6128"));
        EXPECT_TRUE(val(p, "AssetTag").isNull());
    }
    // cpufreq where the kernel has it, else the "cpu MHz" reading.
    EXPECT_EQ(val(cpus[0], "CurrentClockSpeed"), wmi::Value(2900));
    EXPECT_EQ(val(cpus[1], "CurrentClockSpeed"), wmi::Value(1201));
}

TEST(SystemClasses, ArmBoardWithoutSocketIds) {
    const auto ctx = fixture(kArmBoard);
    const auto cpus = processorInstances(ctx);
    ASSERT_EQ(cpus.size(), 1u);
    EXPECT_EQ(val(cpus[0], "NumberOfLogicalProcessors"), wmi::Value(4));
    EXPECT_EQ(val(cpus[0], "NumberOfCores"), wmi::Value(4));
    EXPECT_EQ(val(cpus[0], "Architecture"), wmi::Value(12));
    EXPECT_TRUE(val(cpus[0], "Manufacturer").isNull());
    EXPECT_TRUE(val(cpus[0], "Caption").isNull());
    EXPECT_TRUE(val(cpus[0], "VMMonitorModeExtensions").isNull());
    EXPECT_TRUE(val(cpus[0], "Family").isNull());
    EXPECT_TRUE(val(cpus[0], "ProcessorId").isNull());

    const auto os = operatingSystemInstances(ctx);
    ASSERT_EQ(os.size(), 1u);
    // No os-release: the kernel's own name is the honest caption.
    EXPECT_EQ(val(os[0], "Caption"), wmi::Value("Linux"));
    EXPECT_EQ(val(os[0], "OSArchitecture"), wmi::Value("64-bit"));
    // No utmp at all: unknown, not zero users.
    EXPECT_TRUE(val(os[0], "NumberOfUsers").isNull());
    EXPECT_TRUE(val(os[0], "DataExecutionPrevention_Available").isNull());

    const auto cs = computerSystemInstances(ctx);
    EXPECT_EQ(val(cs[0], "SystemType"), wmi::Value("ARM64-based PC"));
    EXPECT_TRUE(val(cs[0], "HypervisorPresent").isNull());
    EXPECT_TRUE(val(cs[0], "Domain").isNull());
    EXPECT_TRUE(val(cs[0], "UserName").isNull());
}

TEST(SystemClasses, MissingRootGivesNullsNotFailures) {
    const auto ctx = fixture(std::string(TAVO_TEST_DATA) + "/system/does-not-exist");
    const auto os = operatingSystemInstances(ctx);
    ASSERT_EQ(os.size(), 1u);
    EXPECT_TRUE(val(os[0], "Caption").isNull());
    EXPECT_TRUE(val(os[0], "TotalVisibleMemorySize").isNull());
    EXPECT_EQ(val(os[0], "NumberOfProcesses"), wmi::Value(0));
    EXPECT_TRUE(processorInstances(ctx).empty());
    EXPECT_TRUE(biosInstances(ctx).empty());
    EXPECT_EQ(computerSystemInstances(ctx).size(), 1u);
}

TEST(SystemClasses, WqlOverFixtureKeepsCimTypes) {
    auto provider = makeProvider(fixture(kTwoSockets));
    for (const char* cls : {"Win32_OperatingSystem", "Win32_ComputerSystem", "Win32_BIOS",
                            "Win32_BaseBoard", "Win32_Processor"}) {
        SCOPED_TRACE(cls);
        EXPECT_GE(testing::expectMachineCimTypes(cls, provider), 1);
    }
    auto rs =
        provider->connect(".")->execQuery("select * from win32_processor where DeviceID = 'CPU1'");
    auto cpu = rs->next();
    ASSERT_TRUE(cpu);
    EXPECT_EQ(cpu->get("currentclockspeed"), wmi::Value(1201));
    EXPECT_FALSE(rs->next());
}

// ---- this machine -----------------------------------------------------------

TEST(SystemClassesOnThisMachine, EveryValueHasItsCimType) {
    // Machines without SMBIOS (containers, ARM boards) have no BIOS or board.
    EXPECT_EQ(testing::expectMachineCimTypes("Win32_OperatingSystem"), 1);
    EXPECT_EQ(testing::expectMachineCimTypes("Win32_ComputerSystem"), 1);
    EXPECT_LE(testing::expectMachineCimTypes("Win32_BIOS"), 1);
    EXPECT_LE(testing::expectMachineCimTypes("Win32_BaseBoard"), 1);
    EXPECT_GE(testing::expectMachineCimTypes("Win32_Processor"), 1);
}

TEST(SystemClassesOnThisMachine, AgreesWithTheKernel) {
    const auto ctx = SystemContext::forThisMachine();
    const auto os = operatingSystemInstances(ctx);
    ASSERT_EQ(os.size(), 1u);
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    const auto totalKb = std::stoull(val(os[0], "TotalVisibleMemorySize").text());
    EXPECT_EQ(totalKb, static_cast<unsigned long long>(pages) * pageSize / 1024);

    std::size_t logical = 0;
    for (const auto& p : processorInstances(ctx)) {
        logical += static_cast<std::size_t>(val(p, "NumberOfLogicalProcessors").integer());
    }
    EXPECT_EQ(logical, static_cast<std::size_t>(sysconf(_SC_NPROCESSORS_ONLN)));
}

}  // namespace
}  // namespace tavo::linuxwmi
