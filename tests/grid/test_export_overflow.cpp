#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "export_roundtrip.h"
#include "grid/export.h"
#include "grid/grid.h"

using tavo::grid::Grid;

namespace {

// What each byte must become in HTML text, written out independently of the
// exporter's table.
std::string escapedByHand(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\n':
                out += "&#10;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string cellsOfTable(const std::string& html) {
    const auto from = html.find("<tr><td>");
    const auto to = html.rfind("</table>");
    return html.substr(from, to - from);
}

}  // namespace

// Cells that escape to more than five bytes a character once overran the
// room claimed for them and wrote past the export buffer.
TEST(HtmlEscaping, CellsOfLongReferencesAreWrittenWhole) {
    const std::string quotes(4096, '"');
    std::string want;
    for (int i = 0; i < 4096; ++i) want += "&quot;";
    EXPECT_EQ(tavo::grid::htmlEscape(quotes), want);

    Grid g;
    g.columnsAdd("Command line");
    g.itemsAdd("", quotes);
    const std::string every = "&<>\"'\r\n";
    g.itemsAdd("", every);
    const std::string html = tavo::grid::htmlText(g, quotes, every);
    EXPECT_EQ(cellsOfTable(html),
              "<tr><td>" + want + "</td></tr><tr><td>&amp;&lt;&gt;&quot;&#39;&#13;&#10;</td></tr>");
    EXPECT_NE(html.find("<title>Tavo - " + want + " - &amp;&lt;&gt;&quot;&#39;&#13;&#10;</title>"),
              std::string::npos);
}

// Every length from empty to well past the first buffer, so some cell ends
// exactly where the buffer does, and some claim grows it by one byte.
TEST(HtmlEscaping, EveryLengthAroundTheBufferEnd) {
    for (std::size_t length = 0; length <= 700; ++length) {
        for (const char fill : {'"', 'x', '&'}) {
            std::string cell(length, fill);
            if (length > 2) cell[length / 2] = 'y';
            ASSERT_EQ(tavo::grid::htmlEscape(cell), escapedByHand(cell)) << length;
            Grid g;
            g.columnsAdd("A");
            g.columnsAdd("B");
            g.itemsAdd("", cell).setSubItems(1, cell + "\"");
            ASSERT_EQ(cellsOfTable(tavo::grid::htmlText(g, "PC", "Processes")),
                      "<tr><td>" + escapedByHand(cell) + "</td><td>" + escapedByHand(cell + "\"") +
                          "</td></tr>")
                << length;
        }
    }
}

// A bounded random driver over the same check as the libFuzzer target:
// grids of awkward text, exported both ways and read back by other parsers.
TEST(ExportRoundTrip, RandomGridsReadBackAsTheGrid) {
    static const std::vector<std::string> kPieces = {"\"",
                                                     "\"\"",
                                                     ",",
                                                     "\r",
                                                     "\n",
                                                     "\r\n",
                                                     "&",
                                                     "<",
                                                     ">",
                                                     "'",
                                                     "&quot;",
                                                     " ",
                                                     "\t",
                                                     "a",
                                                     "Z9",
                                                     "=cmd|' /C calc'!A0",
                                                     "-60",
                                                     "\xc3\xa9",
                                                     "\xe6\x97\xa5",
                                                     "\xf0\x9f\x99\x82",
                                                     "\xff",
                                                     "\x1f",
                                                     std::string(1, '\0'),
                                                     std::string(300, '"'),
                                                     std::string(64, 'x')};
    std::mt19937 rng(20261208);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int rounds = 0;
    for (; rounds < 4000 && std::chrono::steady_clock::now() < until; ++rounds) {
        std::vector<std::uint8_t> bytes;
        bytes.push_back(static_cast<std::uint8_t>(rng()));
        bytes.push_back(static_cast<std::uint8_t>(rng()));
        const int cells = static_cast<int>(rng() % 40);
        for (int c = 0; c < cells; ++c) {
            const int parts = static_cast<int>(rng() % 4);
            for (int k = 0; k < parts; ++k) {
                const std::string& p = kPieces[rng() % kPieces.size()];
                bytes.insert(bytes.end(), p.begin(), p.end());
            }
            bytes.push_back(0x1f);
        }
        Grid g;
        std::string computer;
        tavo::roundtrip::gridFromBytes(bytes.data(), bytes.size(), g, computer);
        const std::string why = tavo::roundtrip::check(g, computer, "Processes");
        ASSERT_EQ(why, "") << "round " << rounds;
    }
    EXPECT_GT(rounds, 100);
}
