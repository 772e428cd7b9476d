// Every category against a Windows computer's WinRM service made of the
// fixtures: the same definitions, dispatch, lamps and exports the window
// uses, with WMI reached over WS-Management instead of COM.

#include <gtest/gtest.h>

#include <map>
#include <stop_token>
#include <string>

#include "cycle/pass.h"
#include "grid/export.h"
#include "platform/linux/winrm/winrm_backend.h"
#include "schema/schema.h"
#include "winrm/fixture_categories.h"
#include "winrm/fixture_responder.h"
#include "winrm/in_process_soap.h"

namespace tavo::winrm {
namespace {

struct Categories : ::testing::Test {
    std::shared_ptr<testing::FixtureResponder> responder =
        testing::makeFixtureResponder(std::string(TAVO_TEST_DATA) + "/winrm");
    std::shared_ptr<wmi::Backend> backend = makeWinRmBackend([this](const std::string& computer) {
        return std::make_shared<testing::InProcessTransport>(responder,
                                                             "http://" + computer + ":5985/wsman");
    });

    cycle::PassOutcome run(const ReportDefinition& report) {
        cycle::PassJob job;
        job.report = &report;
        job.computer = "win-fixture";
        job.services.management = wmi::makeConnectionFactory(backend, backend);
        grid::Grid shown;
        addColumns(shown, runLayout(report.category).columns);
        job.grid = cycle::freshGrid(shown);
        return cycle::runPass(job);
    }

    static std::vector<int> lamps(const grid::Grid& g) {
        std::vector<int> out;
        for (int i = 1; i <= g.itemsCount(); ++i) out.push_back(g.item(i).SmallIcon());
        return out;
    }
    static std::string cellIn(const grid::Grid& g, const std::string& key, const char* caption) {
        for (int c = 1; c <= g.columnsCount(); ++c) {
            if (g.column(c).Text != caption) continue;
            for (int i = 1; i <= g.itemsCount(); ++i)
                if (g.item(i).Text() == key || g.item(i).SubItems(1) == key)
                    return std::string(c == 1 ? g.item(i).Text() : g.item(i).SubItems(c - 1));
        }
        return "<none>";
    }
};

TEST_F(Categories, EveryCategoryFillsItsGridAndExportsAsOnWindows) {
    int checked = 0;
    for (const ReportDefinition& report : reportDefinitions()) {
        if (report.collector == CollectorKind::ListComputers) continue;
        const std::string category(report.category);
        SCOPED_TRACE(category);
        const auto it = testing::fixtureCategories().find(category);
        ASSERT_NE(it, testing::fixtureCategories().end()) << "a category without a fixture";
        cycle::PassOutcome out = run(report);
        ASSERT_FALSE(out.failure) << out.failure->numberText() << " " << out.failure->description();
        EXPECT_FALSE(out.shownFailure)
            << out.shownFailure->numberText() << " " << out.shownFailure->description();
        ASSERT_TRUE(out.grid);
        EXPECT_EQ(out.grid->itemsCount(), it->second.rows);
        for (int i = 1; i <= out.grid->itemsCount(); ++i)
            EXPECT_EQ(out.grid->item(i).ToolTipText(), "") << "row " << i;
        if (!it->second.texts.empty()) {
            const std::string csv = grid::csvText(*out.grid);
            const std::string html = grid::htmlText(*out.grid, "win-fixture", category);
            for (const std::string& text : it->second.texts) {
                EXPECT_NE(csv.find(text), std::string::npos) << csv.substr(0, 600);
                EXPECT_NE(html.find(grid::htmlEscape(text)), std::string::npos);
            }
        }
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(testing::fixtureCategories().size()));
    EXPECT_EQ(responder->openContexts(), 0);
}

TEST(CategoriesSchema, EveryClassACategoryQueriesIsTypedFromTheClassTable) {
    // Without the table a class's numbers, booleans and one-element arrays
    // would reach the collectors as text.
    for (const ReportDefinition& report : reportDefinitions()) {
        if (report.managementClass.empty()) continue;
        const schema::ClassDef* cls = schema::findClass(report.managementClass);
        ASSERT_NE(cls, nullptr) << report.managementClass;
        EXPECT_FALSE(cls->properties.empty()) << report.managementClass;
    }
    // The subclasses an account query returns.
    for (const char* sub : {"Win32_UserAccount", "Win32_Group", "Win32_SystemAccount"})
        EXPECT_NE(schema::findClass(sub), nullptr) << sub;
}

TEST_F(Categories, MonitorsReadSizesArraysAndStatesAsTheyDoOverCom) {
    const auto drives = run(*findReport("Logical Drives"));
    ASSERT_TRUE(drives.grid);
    // uint64 text past the signed range still becomes a size.
    const std::string csv = grid::csvText(*drives.grid);
    EXPECT_NE(csv.find("17179869184 GB"), std::string::npos) << csv;
    EXPECT_NE(csv.find("60 GB"), std::string::npos) << csv;

    const auto nics = run(*findReport("Network Adapters"));
    ASSERT_TRUE(nics.grid);
    const std::string nicCsv = grid::csvText(*nics.grid);
    // The one gateway came as a lone element; the monitor reads entry 0.
    EXPECT_NE(nicCsv.find("10.30.40.1"), std::string::npos) << nicCsv;
    EXPECT_NE(nicCsv.find("10.30.40.2"), std::string::npos) << nicCsv;

    const auto printers = run(*findReport("Printers"));
    ASSERT_TRUE(printers.grid);
    const auto printerLamps = lamps(*printers.grid);
    ASSERT_EQ(printerLamps.size(), 2u);
    EXPECT_NE(printerLamps[0], printerLamps[1]) << "an idle and an offline printer look alike";

    const auto services = run(*findReport("Services"));
    ASSERT_TRUE(services.grid);
    const auto serviceLamps = lamps(*services.grid);
    // Spooler: an automatic service that is stopped.
    EXPECT_NE(std::count(serviceLamps.begin(), serviceLamps.end(), 1), 6);
}

TEST_F(Categories, AClassTheComputerLacksShowsWmisErrorBesideTheLamp) {
    static const ReportDefinition* services = findReport("Services");
    ReportDefinition missing = *services;
    missing.managementClass = "Win32_NoSuchThing";
    // Both shapes Windows writes a missing class in: WMI's fault nested in
    // WinRM's, and WMI's error in its CIM form.
    for (const char* shape : {"invalid-class.xml", "invalid-class-wmierror.xml"}) {
        SCOPED_TRACE(shape);
        responder = testing::makeFixtureResponder(std::string(TAVO_TEST_DATA) + "/winrm", shape);
        const auto out = run(missing);
        ASSERT_TRUE(out.grid);
        ASSERT_EQ(out.grid->itemsCount(), 1);
        const std::string tip(out.grid->item(1).ToolTipText());
        for (const char* part : {"0x80041010", "Win32_NoSuchThing", "Invalid class", "0x8033801A"})
            EXPECT_NE(tip.find(part), std::string::npos) << tip;
        ASSERT_TRUE(out.shownFailure);
        EXPECT_EQ(out.shownFailure->number(), errc::kInvalidClass);
    }
}

}  // namespace
}  // namespace tavo::winrm
