#include <gtest/gtest.h>

#include "collectors/value.h"
#include "grid/grid.h"
#include "grid/utf8.h"

namespace tavo {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(Utf8, WellFormedTextIsKept) {
    for (const std::string& s :
         {std::string(), std::string("plain"), std::string("Gr\xC3\xBC\xC3\x9F"),
          std::string("\xE2\x82\xAC 5"), std::string("\xF0\x9F\x98\x80"),
          std::string("\xF4\x8F\xBF\xBF"), std::string("a\0b", 3)}) {
        EXPECT_TRUE(isValidUtf8(s)) << s;
        EXPECT_EQ(validUtf8(s), s);
    }
}

TEST(Utf8, EachIllFormedPartBecomesOneReplacement) {
    const std::string r = kReplacement;
    // A lone Latin-1 byte, as a file name in an old encoding has it.
    EXPECT_EQ(validUtf8("caf\xE9"), "caf" + r);
    EXPECT_EQ(validUtf8("caf\xE9!"), "caf" + r + "!");
    // A cut-off sequence is one part, whatever its length.
    EXPECT_EQ(validUtf8("x\xE2\x82"), "x" + r);
    EXPECT_EQ(validUtf8("x\xF0\x9F\x98y"), "x" + r + "y");
    // Overlong forms, surrogates and code points past U+10FFFF: each byte
    // that cannot start or continue a sequence is a part of its own.
    EXPECT_EQ(validUtf8("\xC0\xAF"), r + r);
    EXPECT_EQ(validUtf8("\xE0\x80\xAF"), r + r + r);
    EXPECT_EQ(validUtf8("\xED\xA0\x80"), r + r + r);
    EXPECT_EQ(validUtf8("\xF4\x90\x80\x80"), r + r + r + r);
    EXPECT_EQ(validUtf8("\xFF\xFE"), r + r);
    // A stray continuation byte between good characters.
    EXPECT_EQ(validUtf8("\xC3\xA9\x80\xC3\xA9"), "\xC3\xA9" + r + "\xC3\xA9");
    // The result is always valid, and replacing again changes nothing.
    for (const char* s : {"\xC0", "\xE2\x28\xA1", "\xF8\x88\x80\x80\x80", "ok\xC3"}) {
        const std::string once = validUtf8(s);
        EXPECT_TRUE(isValidUtf8(once)) << s;
        EXPECT_EQ(validUtf8(once), once);
    }
}

TEST(Utf8, ValuesAndGridCellsAreValidWhereTheyAreSet) {
    EXPECT_EQ(wmi::Value(std::string("arg\xFF")).text(), "arg" + kReplacement);
    EXPECT_EQ(wmi::Value("name\xC3").text(), "name" + kReplacement);

    grid::Grid g;
    g.columnsAdd("Name");
    g.columnsAdd("Path\xE9");
    auto& row = g.itemsAdd("k", "proc\xFF");
    row.setSubItems(1, "/tmp/\xE9t\xE9");
    row.setToolTipText("bad\x80");
    EXPECT_EQ(row.Text(), "proc" + kReplacement);
    EXPECT_EQ(row.SubItems(1), "/tmp/" + kReplacement + "t" + kReplacement);
    EXPECT_EQ(row.ToolTipText(), "bad" + kReplacement);
    EXPECT_EQ(g.column(2).Text, "Path" + kReplacement);
    row.setText("again\xC0");
    EXPECT_EQ(row.Text(), "again" + kReplacement);
}

}  // namespace
}  // namespace tavo
