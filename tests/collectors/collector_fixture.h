#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collectors/collectors.h"
#include "grid/error.h"
#include "support/fake_management.h"
#include "support/fake_report_context.h"

namespace tavo::testing {

// A report context wired to a fake service for the computer "PC1".
struct CollectorTest : ::testing::Test {
    std::shared_ptr<FakeBackend> backend = std::make_shared<FakeBackend>();
    FakeReportContext ctx{"PC1", std::make_shared<FakeFactory>(backend)};

    grid::Grid& grid() { return ctx.grid; }
    grid::ListItem& row(int i) { return ctx.grid.item(i); }

    // The columns the window lays out before a monitor runs.
    void layout(int columns) {
        for (int i = 0; i < columns; ++i) ctx.grid.columnsAdd("c" + std::to_string(i));
    }

    std::vector<std::string> captions() const {
        std::vector<std::string> out;
        for (int i = 1; i <= ctx.grid.columnsCount(); ++i) out.push_back(ctx.grid.column(i).Text);
        return out;
    }

    std::vector<int> lamps() const {
        std::vector<int> out;
        for (int i = 1; i <= ctx.grid.itemsCount(); ++i)
            out.push_back(ctx.grid.item(i).SmallIcon());
        return out;
    }

    // Cells 1..n of row i.
    std::vector<std::string> cells(int i, int n) {
        std::vector<std::string> out;
        for (int c = 1; c <= n; ++c) out.emplace_back(ctx.grid.item(i).SubItems(c));
        return out;
    }

    // Runs `pass`, expecting it to raise a tavo::Error; returns its number.
    static std::uint32_t raised(const std::function<void()>& pass) {
        try {
            pass();
        } catch (const Error& e) {
            return e.number();
        }
        ADD_FAILURE() << "the pass raised nothing";
        return 0;
    }
};

}  // namespace tavo::testing
