#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "csv_read.h"
#include "grid/error.h"
#include "grid/export.h"
#include "grid/export_file.h"
#include "grid/grid.h"
#include "grid/shown_view.h"

namespace fs = std::filesystem;
using tavo::grid::Grid;

namespace {

using Table = std::vector<std::vector<std::string>>;

// The example grid: columns Drive and Free, one row C: / 10 GB with a yellow lamp.
void example(Grid& g) {
    g.columnsAdd("Drive");
    g.columnsAdd("Free");
    g.itemsAdd("", "C:", 2).setSubItems(1, "10 GB");
}

// Parses CSV text with libcsv, as a spreadsheet would.
Table parseCsv(const std::string& text) {
    Table rows;
    std::string why;
    EXPECT_TRUE(tavo::testing::readCsv(text, CSV_STRICT | CSV_APPEND_NULL, rows, why)) << why;
    return rows;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::tm at(int y, int mo, int d, int h, int mi, int s) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return t;
}

struct TempDir {
    fs::path path;
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "tavo-export-test-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, ec);
        fs::remove_all(path, ec);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path)) out.push_back(e.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }
};

}  // namespace

TEST(CsvExport, PlainDataIsWrittenExactlyAsShown) {
    Grid g;
    example(g);
    EXPECT_EQ(tavo::grid::csvText(g), "Drive,Free,\r\nC:,10 GB,\r\n");

    // Unwritten cells are empty fields; every line has one comma per column.
    g.columnsAdd("Type");
    g.itemsAdd("", "D:");
    EXPECT_EQ(tavo::grid::csvText(g), "Drive,Free,Type,\r\nC:,10 GB,,\r\nD:,,,\r\n");

    Grid headerOnly;
    headerOnly.columnsAdd("Name");
    headerOnly.columnsAdd("");
    EXPECT_EQ(tavo::grid::csvText(headerOnly), "Name,,\r\n");
}

TEST(CsvExport, FieldsThatWouldBreakTheFileAreQuotedAndReadBackTheSame) {
    Grid g;
    g.columnsAdd("Name, full");
    g.columnsAdd("Command \"line\"");
    g.columnsAdd("Note");
    const Table cells = {{"a,b", "say \"hi\"", "two\r\nlines"},
                         {"plain", "", "lf\nonly"},
                         {"\"", ",", "trailing space "},
                         {"ünïcödé", "tab\there", "cr\ronly"}};
    for (const auto& r : cells) {
        auto& row = g.itemsAdd("", r[0]);
        row.setSubItems(1, r[1]);
        row.setSubItems(2, r[2]);
    }
    const std::string text = tavo::grid::csvText(g);
    EXPECT_NE(text.find("\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nplain,,\"lf\nonly\",\r\n"), std::string::npos);

    // Each line ends in ",", which a reader sees as one empty last field.
    Table expected = {{"Name, full", "Command \"line\"", "Note", ""}};
    for (auto r : cells) {
        r.push_back("");
        expected.push_back(r);
    }
    EXPECT_EQ(parseCsv(text), expected);
}

TEST(CsvExport, CellsASpreadsheetWouldRunGetAnApostropheUnlessRaw) {
    Grid g;
    g.columnsAdd("Name");
    g.columnsAdd("Value");
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"=cmd|' /C calc'!A0", "-60"},
        {"@SUM(1)", "+1.5"},
        {"+1-2", "-2,5"},
        {"-", "1e5"},
        {"\tlead", "-1E-3"},
        {"\rcr", "+"},
        {"plain", "=1+1"},
        {"a=b", "-3e"},
        {"-x", "- 5"},
    };
    for (const auto& [name, value] : rows) g.itemsAdd("", name).setSubItems(1, value);
    const Table shown = parseCsv(tavo::grid::csvText(g));
    const Table expected = {
        {"Name", "Value", ""},    {"'=cmd|' /C calc'!A0", "-60", ""},
        {"'@SUM(1)", "+1.5", ""}, {"'+1-2", "-2,5", ""},
        {"'-", "1e5", ""},        {"'\tlead", "-1E-3", ""},
        {"'\rcr", "'+", ""},      {"plain", "'=1+1", ""},
        {"a=b", "'-3e", ""},      {"'-x", "'- 5", ""},
    };
    EXPECT_EQ(shown, expected);
    // A number with its sign keeps its exact text: no quotes, no apostrophe.
    EXPECT_NE(tavo::grid::csvText(g).find("\r\n'=cmd|' /C calc'!A0,-60,\r\n"), std::string::npos);

    // Output for scripts has every cell exactly as shown.
    Table raw = {{"Name", "Value", ""}};
    for (const auto& [name, value] : rows) raw.push_back({name, value, ""});
    EXPECT_EQ(parseCsv(tavo::grid::csvText(g, tavo::grid::CsvCells::raw)), raw);

    // The window exports what it shows: that text is guarded the same way.
    const auto view = tavo::grid::wholeGrid(g);
    EXPECT_EQ(parseCsv(tavo::grid::csvText(g, view)), expected);
    EXPECT_EQ(parseCsv(tavo::grid::csvText(g, view, tavo::grid::CsvCells::raw)), raw);
}

TEST(CsvExport, RowsComeInTheShownOrder) {
    Grid g;
    g.columnsAdd("Name");
    for (const char* n : {"b", "c", "a"}) g.itemsAdd("", n);
    g.setSort(0, 1, true);
    EXPECT_EQ(tavo::grid::csvText(g), "Name,\r\nc,\r\nb,\r\na,\r\n");
}

TEST(HtmlExport, TheExampleIsOneLineWithItsCharsetDeclared) {
    Grid g;
    example(g);
    EXPECT_EQ(tavo::grid::htmlText(g, "SERVER1", "Logical Drives"),
              "<html><head><meta charset=\"utf-8\"><title>Tavo - SERVER1 - Logical Drives</title>"
              "</head><body><table border='1'><tr><th>Drive</th><th>Free</th></tr><tr><td "
              "style='background-color:gold;'>C:</td><td>10 GB</td></tr></table></body></html>");
}

TEST(HtmlExport, HeaderOnlyAndTheFourLampColours) {
    Grid g;
    g.columnsAdd("Name");
    const std::string empty = tavo::grid::htmlText(g, "PC", "BIOS");
    EXPECT_TRUE(empty.ends_with("<tr><th>Name</th></tr></table></body></html>")) << empty;

    g.itemsAdd("", "none");
    g.itemsAdd("", "good", 1);
    g.itemsAdd("", "warn", 2);
    g.itemsAdd("", "bad", 3);
    g.itemsAdd("", "odd", 7);
    const std::string html = tavo::grid::htmlText(g, "PC", "BIOS");
    EXPECT_NE(html.find("<tr><td>none</td></tr>"), std::string::npos);
    EXPECT_NE(html.find("<tr><td style='background-color:lightgreen;'>good</td></tr>"),
              std::string::npos);
    EXPECT_NE(html.find("<tr><td style='background-color:gold;'>warn</td></tr>"),
              std::string::npos);
    EXPECT_NE(html.find("<tr><td style='background-color:red;'>bad</td></tr>"), std::string::npos);
    EXPECT_NE(html.find("<tr><td>odd</td></tr>"), std::string::npos);
}

TEST(HtmlExport, NothingFromTheGridOrTheFieldsBecomesMarkup) {
    Grid g;
    g.columnsAdd("<b>Caption</b>");
    g.columnsAdd("Command");
    g.itemsAdd("", "a & b", 1).setSubItems(1, "<script>alert('x')</script> \"q\"");
    g.itemsAdd("", "line\r\nbreak");
    const std::string html = tavo::grid::htmlText(g, "<PC>", "Pro'cesses\"");
    EXPECT_NE(html.find("<title>Tavo - &lt;PC&gt; - Pro&#39;cesses&quot;</title>"),
              std::string::npos);
    EXPECT_NE(html.find("<th>&lt;b&gt;Caption&lt;/b&gt;</th>"), std::string::npos);
    EXPECT_NE(html.find(">a &amp; b</td><td>&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; "
                        "&quot;q&quot;</td>"),
              std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    // A line break in a cell is a character reference: the document stays one line.
    EXPECT_EQ(html.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(html.find("<td>line&#13;&#10;break</td>"), std::string::npos);
}

TEST(ExportFileName, DigitsArePaddedAndForbiddenCharactersReplaced) {
    const std::tm example = at(2013, 3, 5, 9, 7, 3);
    EXPECT_EQ(tavo::grid::exportTimeDigits(example), "20130305090703");
    // Moments that unpadded digits would confuse.
    EXPECT_NE(tavo::grid::exportTimeDigits(at(2013, 1, 11, 12, 34, 56)),
              tavo::grid::exportTimeDigits(at(2013, 11, 1, 12, 34, 56)));
    EXPECT_EQ(tavo::grid::exportFileName("/reports", "SERVER1", "Logical Drives", example, ".csv"),
              fs::path("/reports/SERVER1-Logical Drives_20130305090703.csv"));
    // A root folder gets no doubled separator.
    EXPECT_EQ(tavo::grid::exportFileName("/", "PC", "BIOS", example, ".html"),
              fs::path("/PC-BIOS_20130305090703.html"));

    const fs::path escaped =
        tavo::grid::exportFileName("/reports", "../../etc/x", "a/b", example, ".csv");
    EXPECT_EQ(escaped.parent_path(), fs::path("/reports"));
    EXPECT_EQ(escaped.filename(), fs::path("___.._etc_x-a_b_20130305090703.csv"));
    EXPECT_EQ(tavo::grid::fileNameSafe(std::string("nul\0byte", 8)), "nul_byte");
    EXPECT_EQ(tavo::grid::fileNameSafe("back\\slash: *?"), "back\\slash: *?");  // fine here
}

// A computer text of "." or ".." once gave hidden files; a DNS name of 230
// bytes or more gave "File name too long", and so did the " (2)" form of a
// name just under the limit.
TEST(ExportFileName, NamesStayVisibleAndFitTheFileSystem) {
    const std::tm t = at(2026, 12, 8, 16, 0, 0);
    EXPECT_EQ(tavo::grid::exportFileName("/r", ".", "BIOS", t, ".csv").filename(),
              fs::path("_-BIOS_20261208160000.csv"));
    EXPECT_EQ(tavo::grid::exportFileName("/r", "..", "BIOS", t, ".csv").filename(),
              fs::path("__-BIOS_20261208160000.csv"));
    EXPECT_EQ(tavo::grid::exportFileName("/r", "pc.lan", "BIOS", t, ".csv").filename(),
              fs::path("pc.lan-BIOS_20261208160000.csv"));

    TempDir dir;
    // 253 bytes of ASCII, and a name of two-byte characters whose cut must
    // not split one.
    const std::string dns = std::string(63, 'a') + "." + std::string(63, 'b') + "." +
                            std::string(63, 'c') + "." + std::string(61, 'd');
    std::string accents;
    for (int i = 0; i < 140; ++i) accents += "\xc3\xa9";
    for (const std::string& computer : {dns, accents}) {
        const fs::path wanted =
            tavo::grid::exportFileName(dir.path, computer, "Network Adapters", t, ".html");
        const std::string name = wanted.filename().string();
        EXPECT_LE(name.size() + 7, 255u) << name;
        EXPECT_TRUE(name.ends_with("-Network Adapters_20261208160000.html")) << name;
        EXPECT_EQ(computer.compare(0, name.find("-Network"), name, 0, name.find("-Network")), 0);
        const std::string host = name.substr(0, name.find("-Network"));
        EXPECT_NE(static_cast<unsigned char>(host.back()) & 0xC0, 0xC0u)
            << "cut inside a character";
        // Written twice: the second takes the " (2)" form, which must fit too.
        EXPECT_EQ(tavo::grid::writeNewFile(wanted, "x"), wanted);
        const fs::path second = tavo::grid::writeNewFile(wanted, "y");
        EXPECT_TRUE(second.filename().string().ends_with(" (2).html")) << second;
        EXPECT_EQ(readFile(second), "y");
    }
}

TEST(ExportFile, ANewNameIsChosenRatherThanReplacingAFile) {
    TempDir dir;
    const fs::path wanted = dir.path / "PC-BIOS_20130305090703.csv";
    EXPECT_EQ(tavo::grid::writeNewFile(wanted, "first"), wanted);
    EXPECT_EQ(tavo::grid::writeNewFile(wanted, "second"),
              dir.path / "PC-BIOS_20130305090703 (2).csv");
    EXPECT_EQ(tavo::grid::writeNewFile(wanted, ""), dir.path / "PC-BIOS_20130305090703 (3).csv");
    EXPECT_EQ(readFile(wanted), "first");
    EXPECT_EQ(readFile(dir.path / "PC-BIOS_20130305090703 (2).csv"), "second");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"PC-BIOS_20130305090703 (2).csv",
                                                     "PC-BIOS_20130305090703 (3).csv",
                                                     "PC-BIOS_20130305090703.csv"}));
    // The file is an ordinary document: others may read it as the umask allows.
    struct stat st {};
    ASSERT_EQ(::stat(wanted.c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(ExportFile, FailuresNameTheFileAndTheReasonAndLeaveNothing) {
    TempDir dir;
    // A name longer than the file system allows.
    const fs::path tooLong = dir.path / (std::string(300, 'x') + ".csv");
    try {
        tavo::grid::writeNewFile(tooLong, "data");
        ADD_FAILURE() << "an over-long name was accepted";
    } catch (const tavo::Error& e) {
        EXPECT_NE(e.description().find(tooLong.string()), std::string::npos) << e.description();
        EXPECT_NE(e.description().find("too long"), std::string::npos) << e.description();
    }
    EXPECT_TRUE(dir.names().empty());

    // A folder that went away after it was chosen.
    const fs::path gone = dir.path / "gone" / "PC-BIOS.csv";
    try {
        tavo::grid::writeNewFile(gone, "data");
        ADD_FAILURE() << "a missing folder was accepted";
    } catch (const tavo::Error& e) {
        EXPECT_EQ(e.number(), tavo::errc::kPathNotFound);
        EXPECT_NE(e.description().find(gone.string()), std::string::npos);
    }
}

TEST(ExportFile, AReadOnlyFolderIsRefused) {
    TempDir dir;
    fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    const fs::path wanted = dir.path / "PC-BIOS.csv";
    // Root writes anywhere, so the attempt runs as an unprivileged user then.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(3);
        try {
            tavo::grid::writeNewFile(wanted, "data");
        } catch (const tavo::Error& e) {
            const bool named = e.description().find(wanted.string()) != std::string::npos;
            _exit(e.number() == tavo::errc::kPermissionDenied && named ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: written anyway, 2: wrong error, 3: no user to test as";
    EXPECT_TRUE(dir.names().empty());
}
