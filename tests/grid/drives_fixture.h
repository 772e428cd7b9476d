#pragma once

#include <gtest/gtest.h>

#include "grid/grid.h"

namespace tavo::testing {

// Drive, Free, Label; three rows with lamps 1, 2, 3 and awkward cells: a
// comma and quotes, a tab and a line break, HTML's own characters.
struct DrivesGrid : ::testing::Test {
    grid::Grid grid;
    void SetUp() override {
        grid.columnsAdd("Drive");
        grid.columnsAdd("Free");
        grid.columnsAdd("Label");
        auto add = [&](const char* drive, int lamp, const char* free, const char* label) {
            auto& row = grid.itemsAdd("", drive, lamp);
            row.setSubItems(1, free);
            row.setSubItems(2, label);
        };
        add("C:", 1, "10 GB", "System, \"main\"");
        add("D:", 2, "2 GB", "Data\tand\nmore");
        add("E:", 3, "0 GB", "<Backup & co>");
    }
};

}  // namespace tavo::testing
