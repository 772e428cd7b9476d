#pragma once

// A report context over a bare grid, for driving collectors without a window.
// It records every call a collector makes back to the window, in order, and
// lets a test react to the end-of-pass call or to processEvents (to press
// STOP in the middle of a pass, for example).

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "collectors/report_context.h"
#include "grid/error.h"

namespace tavo::testing {

class FakeReportContext : public ReportContext {
  public:
    FakeReportContext() = default;
    FakeReportContext(std::string computer, std::shared_ptr<wmi::ConnectionFactory> factory)
        : computerName(std::move(computer)), factory(std::move(factory)) {}

    std::string computerName = ".";
    std::shared_ptr<wmi::ConnectionFactory> factory;
    grid::Grid grid;

    // Calls in order: "endOfPass", "processEvents", "resetPointer",
    // "setIntervalVisible(true)", "setIntervalVisible(false)".
    std::vector<std::string> calls;
    int endOfPassCalls = 0;
    int processEventsCalls = 0;
    int resetPointerCalls = 0;
    std::vector<bool> intervalVisibleCalls;
    bool intervalVisible = true;  // as the last setIntervalVisible left it

    std::vector<std::string> failures;  // numberText ": " description, as told
    std::vector<std::string> emptyReasons;

    std::function<void()> onEndOfPass;
    std::function<void()> onProcessEvents;

    std::string computer() const override { return computerName; }
    grid::Grid& results() override { return grid; }
    void setIntervalVisible(bool visible) override {
        calls.push_back(visible ? "setIntervalVisible(true)" : "setIntervalVisible(false)");
        intervalVisibleCalls.push_back(visible);
        intervalVisible = visible;
    }
    void resetPointer() override {
        calls.push_back("resetPointer");
        ++resetPointerCalls;
    }
    void endOfPass() override {
        calls.push_back("endOfPass");
        ++endOfPassCalls;
        if (onEndOfPass) onEndOfPass();
    }
    void processEvents() override {
        calls.push_back("processEvents");
        ++processEventsCalls;
        if (onProcessEvents) onProcessEvents();
    }
    void passFailed(const Error& failure) override {
        failures.push_back(failure.numberText() + ": " + failure.description());
    }
    void passEmpty(const std::string& why) override { emptyReasons.push_back(why); }
    wmi::ConnectionFactory& management() override {
        if (!factory) throw Error(errc::kFailed, "This test gave the report no management service");
        return *factory;
    }
};

}  // namespace tavo::testing
