#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "collectors/report_context.h"

// A report context over a bare grid that records what the report asked of
// the window, in order.
namespace tavo::test {

class LocalReportContext : public ReportContext {
  public:
    grid::Grid grid;
    std::vector<std::string> calls;
    std::function<void()> onProcessEvents;

    std::string computer() const override { return "HOST"; }
    grid::Grid& results() override { return grid; }
    void setIntervalVisible(bool visible) override {
        calls.push_back(visible ? "showInterval" : "hideInterval");
    }
    void resetPointer() override { calls.push_back("resetPointer"); }
    void endOfPass() override { calls.push_back("endOfPass"); }
    void processEvents() override {
        calls.push_back("processEvents");
        if (onProcessEvents) onProcessEvents();
    }
    wmi::ConnectionFactory& management() override {
        throw std::logic_error("the network report asks no management service");
    }
};

}  // namespace tavo::test
