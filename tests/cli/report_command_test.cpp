// tavo-report as scripts meet it: formats read back by other parsers, exit
// statuses, many computers, the bound, the deadline and Ctrl+C.
#include <csv.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/report_command.h"
#include "cli/report_output.h"
#include "cli/run_targets.h"
#include "cli_fixture.h"
#include "collectors/report_definition.h"
#include "cycle/pass.h"
#include "grid/export.h"
#include "grid/export_roundtrip.h"

namespace tavo::testing {
namespace {

namespace fs = std::filesystem;
using Table = std::vector<std::vector<std::string>>;

struct Outcome {
    int status;
    std::string out, err;
};

class ReportCommand : public ::testing::Test {
  protected:
    std::shared_ptr<ComputerFarm> farm = std::make_shared<ComputerFarm>();
    std::atomic<bool> interrupted{false};

    void SetUp() override { farm->computers["*"] = sampleComputer(); }

    Outcome run(std::vector<std::string> args, bool terminal = false) {
        cli::Environment env;
        env.stdoutIsTerminal = terminal;
        auto services = cycle::PassServices{farm, nullptr};
        env.makeServices = [services] { return services; };
        const cli::CommandResult r = cli::runCommand(args, env, interrupted);
        return {r.status, r.out, r.err};
    }

    // The report as the window builds it: the RUN layout, then one pass.
    std::unique_ptr<grid::Grid> windowGrid(const std::string& category,
                                           const std::string& computer) {
        cycle::PassJob job;
        job.report = findReport(category);
        job.computer = computer;
        job.services = {farm, nullptr};
        job.grid = std::make_unique<grid::Grid>();
        addColumns(*job.grid, runLayout(category).columns);
        cycle::PassOutcome out = cycle::runPass(job);
        EXPECT_FALSE(out.failure);
        return std::move(out.grid);
    }
};

Table parseCsv(const std::string& text) {
    Table rows;
    std::string why;
    EXPECT_TRUE(roundtrip::parseCsv(text, rows, why)) << why;
    return rows;
}

Json::Value parseJson(const std::string& text) {
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    builder["strictRoot"] = true;
    Json::Value root;
    std::string errors;
    std::istringstream in(text);
    EXPECT_TRUE(Json::parseFromStream(builder, in, &root, &errors)) << errors;
    return root;
}

TEST_F(ReportCommand, EveryFormatReadsBackAsTheWindowsReport) {
    for (const std::string category : {"Processes", "Logical Drives"}) {
        const auto window = windowGrid(category, "pc1");
        ASSERT_GT(window->itemsCount(), 0) << category;
        const Table want = roundtrip::expected(*window);

        const Outcome csv = run({"-f", "csv", "-c", "pc1", category});
        EXPECT_EQ(csv.status, 0) << csv.err;
        EXPECT_EQ(parseCsv(csv.out), want) << category;
        // Scripts get cells as they are: no apostrophe before "=cmd".
        EXPECT_EQ(csv.out, grid::csvText(*window, grid::CsvCells::raw));

        const Outcome html = run({"-f", "html", "-c", "pc1", category});
        EXPECT_EQ(html.status, 0);
        EXPECT_EQ(html.out, grid::htmlText(*window, "pc1", category));
        EXPECT_EQ(roundtrip::check(*window, "pc1", category), "");

        const Outcome json = run({"-f", "json", "-c", "pc1", category});
        EXPECT_EQ(json.status, 0) << json.err;
        const Json::Value rows = parseJson(json.out);
        ASSERT_TRUE(rows.isArray());
        ASSERT_EQ(rows.size(), want.size() - 1);
        for (Json::ArrayIndex r = 0; r < rows.size(); ++r) {
            const Json::Value& row = rows[r];
            EXPECT_EQ(row["computer"].asString(), "pc1");
            const int icon =
                window->item(static_cast<int>(window->shownOrder()[r]) + 1).SmallIcon();
            EXPECT_EQ(row["status"].asString(), icon == 1 ? "green" : icon == 2 ? "yellow" : "red");
            for (std::size_t c = 0; c < want[0].size(); ++c)
                EXPECT_EQ(row[want[0][c]].asString(), want[r + 1][c]) << want[0][c];
        }
    }
}

TEST_F(ReportCommand, TableAlignsColumnsAndColoursOnlyATerminal) {
    const Outcome plain = run({"-f", "table", "-c", "pc1", "Processes"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out.find('\x1b'), std::string::npos);
    std::istringstream lines(plain.out);
    std::string head, first, second;
    std::getline(lines, head);
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_TRUE(first.starts_with("green")) << first;
    EXPECT_TRUE(second.starts_with("yellow")) << second;
    // Every column starts where its caption does.
    EXPECT_EQ(head.find("ProcessId"), first.find("1 "));
    EXPECT_EQ(first.find('\n'), std::string::npos);

    const Outcome tty = run({"-c", "pc1", "Processes"}, true);
    EXPECT_NE(tty.out.find("\x1b[32m"), std::string::npos) << "table on a terminal, in colour";
}

// A process name or an error text from another computer could move the
// cursor, retitle the terminal or clear it: the table shows the bytes.
TEST(VisibleText, ControlCharactersBecomeEscapesAndTextStaysAsItIs) {
    const struct {
        std::string in, want;
    } cases[] = {
        {"plain text, \xC3\xA9t\xC3\xA9", "plain text, \xC3\xA9t\xC3\xA9"},  // UTF-8 kept
        {"\x1b]0;owned\x07x", "\\x1b]0;owned\\x07x"},                        // OSC title
        {"a\x1b[2Jb", "a\\x1b[2Jb"},                                         // clear screen
        {std::string("nul\0", 4), "nul\\x00"},
        {"del\x7f", "del\\x7f"},
        {"c1\xC2\x9B"
         "2J",
         "c1\\x9b2J"},                     // CSI as a C1 control in UTF-8
        {"\xC2\xA0nbsp", "\xC2\xA0nbsp"},  // a printable character after C2 stays
        {"ends in C2\xC2", "ends in C2\xC2"},
    };
    for (const auto& c : cases) EXPECT_EQ(cli::visibleText(c.in), c.want) << c.want;

    grid::Grid g;
    g.columnsAdd("Name");
    g.itemsAdd("", "evil\x1b]0;owned\x07\x1b[2J", 1);
    const std::string table = cli::tableText(g, false, 0);
    EXPECT_EQ(table.find('\x1b'), std::string::npos) << table;
    EXPECT_NE(table.find("evil\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << table;
    // CSV keeps the bytes: it is data for programs, not for a terminal.
    EXPECT_NE(grid::csvText(g, grid::CsvCells::raw).find("\x1b]0;owned"), std::string::npos);
}

TEST_F(ReportCommand, UsageErrorsNameTheCulpritAndExitTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"Logical Drivez"}, "\"Logical Drivez\""},
        {{"--frobnicate", "Processes"}, "\"--frobnicate\""},
        {{"-f", "xml", "Processes"}, "\"xml\""},
        {{"-j", "0", "Processes"}, "\"0\""},
        {{"--timeout", "soon", "Processes"}, "\"soon\""},
        {{"-c", "bad\\name", "Processes"}, "bad\\name"},
        {{"-c", "root\\x:y", "Processes"}, "root\\x:y"},
        {{}, "category"},
        {{"Processes", "--query", "SELECT * FROM Win32_Process"}, "not both"},
        {{"--computers", "/nonexistent/hosts", "Processes"}, "/nonexistent/hosts"},
        {{"Processes", "Services"}, "\"Services\""},
    };
    for (const auto& [args, culprit] : cases) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << culprit;
        EXPECT_NE(r.err.find(culprit), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_EQ(farm->connects, 0) << "a wrong command line asks no computer";

    const Outcome list = run({"--list"});
    EXPECT_EQ(list.status, 0);
    std::string want;
    for (auto c : reportCategories()) want += std::string(c) + "\n";
    EXPECT_EQ(list.out, want);
    EXPECT_EQ(run({"--help"}).status, 0);
    EXPECT_NE(run({"--version"}).out.find("tavo-report "), std::string::npos);
}

TEST_F(ReportCommand, AFailingComputerAmongSeveralGivesItsRowAndStatusOne) {
    farm->refused = {"down"};
    const Outcome r = run({"-f", "csv", "-c", "pc1", "-c", "down", "-c", "pc2", "Logical Drives"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("down: The RPC server is unavailable."), std::string::npos) << r.err;
    const Table t = parseCsv(r.out);
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].front(), "Computer");
    EXPECT_EQ(t[0].back(), "Error");
    EXPECT_EQ(t[1][0], "pc1");
    EXPECT_EQ(t[2][0], "down");
    EXPECT_NE(t[2].back().find("RPC server is unavailable"), std::string::npos);
    EXPECT_EQ(t[3][0], "pc2");
    EXPECT_EQ(t[3][1], t[1][1]) << "the others still report";

    // The generic report shows a failure as a row; a script still hears of it.
    const Outcome generic = run({"-f", "json", "-c", "pc1", "-c", "down", "Processes"});
    EXPECT_EQ(generic.status, 1);
    const Json::Value rows = parseJson(generic.out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2]["computer"].asString(), "down");
    EXPECT_EQ(rows[2]["status"].asString(), "red");
}

TEST_F(ReportCommand, ComputersFileAndTheBoundOnConcurrency) {
    const fs::path file = fs::temp_directory_path() / ("tavo-hosts-" + std::to_string(getpid()));
    {
        std::ofstream out(file);
        out << "# audit\n";
        for (int i = 0; i < 12; ++i) out << "  host" << i << "   # rack " << i << "\n\n";
    }
    farm->delay = std::chrono::milliseconds(40);
    const Outcome r = run({"-f", "csv", "-j", "3", "--computers", file.string(), "Logical Drives"});
    fs::remove(file);
    EXPECT_EQ(r.status, 0) << r.err;
    const Table t = parseCsv(r.out);
    ASSERT_EQ(t.size(), 13u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(t[static_cast<std::size_t>(i) + 1][0], "host" + std::to_string(i));
    EXPECT_LE(cli::peakConcurrency(), 3);
    EXPECT_GE(cli::peakConcurrency(), 2);
}

// Computers answer in any order but their rows go out in the order asked,
// while a slow first computer holds back only a bounded number of others.
TEST_F(ReportCommand, ManyComputersKeepTheOrderAskedWithABoundedBuffer) {
    for (const std::string format : {"csv", "json", "table"}) {
        farm = std::make_shared<ComputerFarm>();
        farm->computers["*"] = sampleComputer();
        farm->stuck = {"host0"};
        farm->refused = {"host5"};
        std::vector<std::string> args = {"-f", format, "-j", "2"};
        for (int i = 0; i < 12; ++i) args.insert(args.end(), {"-c", "host" + std::to_string(i)});
        args.push_back("Processes");
        int startedWhileStuck = 0;
        std::thread unstick([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            startedWhileStuck = farm->connects.load();
            farm->release = true;
        });
        const Outcome r = run(args);
        unstick.join();
        EXPECT_EQ(r.status, 1) << format << r.err;
        // Two at once, four held at most: host0 and at most three after it.
        EXPECT_LE(startedWhileStuck, 4) << format;
        EXPECT_GE(startedWhileStuck, 2) << format;

        std::vector<std::string> computers;
        if (format == "csv") {
            const Table t = parseCsv(r.out);
            ASSERT_FALSE(t.empty());
            EXPECT_EQ(t[0].front(), "Computer");
            EXPECT_EQ(t[0].back(), "Error");
            for (std::size_t i = 1; i < t.size(); ++i) computers.push_back(t[i][0]);
        } else if (format == "json") {
            const Json::Value rows = parseJson(r.out);
            for (const Json::Value& row : rows) computers.push_back(row["computer"].asString());
        } else {
            std::istringstream lines(r.out);
            std::string line;
            std::getline(lines, line);  // the captions
            while (std::getline(lines, line)) {
                std::istringstream words(line);
                std::string lamp, computer;
                words >> lamp >> computer;
                computers.push_back(computer);
            }
        }
        std::vector<std::string> want;
        for (int i = 0; i < 12; ++i) {
            // Two processes each; the refused one gives its error row.
            want.push_back("host" + std::to_string(i));
            if (i != 5) want.push_back("host" + std::to_string(i));
        }
        EXPECT_EQ(computers, want) << format << "\n" << r.out;
    }
}

TEST_F(ReportCommand, TheDeadlineEndsStragglersWithTheirError) {
    farm->stuck = {"hung"};
    const auto start = std::chrono::steady_clock::now();
    const Outcome r =
        run({"-f", "csv", "--timeout", "0.3", "-c", "pc1", "-c", "hung", "Logical Drives"});
    const auto took = std::chrono::steady_clock::now() - start;
    farm->release = true;  // the abandoned pass may finish now; its rows are dropped
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("hung: no answer within"), std::string::npos) << r.err;
    const Table t = parseCsv(r.out);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[2][0], "hung");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST_F(ReportCommand, InterruptStopsPromptlyAndPrintsWhatFinished) {
    farm->slowUntilStopped = {"slow"};
    std::thread ctrlC([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        interrupted = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const Outcome r = run({"-f", "csv", "-c", "pc1", "-c", "slow", "Logical Drives"});
    const auto took = std::chrono::steady_clock::now() - start;
    ctrlC.join();
    EXPECT_EQ(r.status, 130);
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_NE(r.err.find("interrupted; no report from slow"), std::string::npos) << r.err;
    const Table t = parseCsv(r.out);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[1][0], "pc1");
}

TEST_F(ReportCommand, OutputFilesAreNeverOverwrittenNorLeftHalfWritten) {
    const fs::path dir =
        fs::temp_directory_path() / ("tavo-report-out-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path wanted = dir / "report.csv";
    { std::ofstream(wanted) << "keep me"; }
    const Outcome r = run({"-c", "pc1", "-o", wanted.string(), "Logical Drives"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    std::ifstream kept(wanted);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
    const fs::path second = dir / "report (2).csv";
    ASSERT_TRUE(fs::exists(second));
    EXPECT_NE(r.err.find(second.string()), std::string::npos) << r.err;
    EXPECT_EQ(parseCsv([&] {
                  std::ifstream in(second);
                  return std::string(std::istreambuf_iterator<char>(in), {});
              }())[0][0],
              "Drive");

    // .json by its extension.
    const Outcome json = run({"-c", "pc1", "-o", (dir / "r.json").string(), "Logical Drives"});
    EXPECT_EQ(json.status, 0);
    std::ifstream jin(dir / "r.json");
    EXPECT_TRUE(parseJson(std::string(std::istreambuf_iterator<char>(jin), {})).isArray());

    if (geteuid() != 0) {  // root writes anywhere
        const fs::path locked = dir / "locked";
        fs::create_directories(locked);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        const Outcome denied =
            run({"-c", "pc1", "-o", (locked / "r.csv").string(), "Logical Drives"});
        EXPECT_EQ(denied.status, 1);
        EXPECT_NE(denied.err.find("r.csv"), std::string::npos) << denied.err;
        EXPECT_TRUE(fs::is_empty(locked));
        fs::permissions(locked, fs::perms::owner_all);
    }
    const fs::path missing = dir / "no-such-folder" / "r.csv";
    const Outcome gone = run({"-c", "pc1", "-o", missing.string(), "Logical Drives"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("no-such-folder"), std::string::npos) << gone.err;
    fs::remove_all(dir);
}

TEST_F(ReportCommand, AnyQueryGivesTheGenericReport) {
    const Outcome r = run({"-f", "csv", "-c", "pc1", "--query", "SELECT * FROM Win32_Process"});
    EXPECT_EQ(r.status, 0) << r.err;
    const Table t = parseCsv(r.out);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0], (std::vector<std::string>{"", "Name", "ProcessId", "CommandLine", "Status"}));
    const Outcome bad = run({"-c", "pc1", "--query", "SELECT * FROM Win32_Nothing"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("Invalid class"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace tavo::testing
