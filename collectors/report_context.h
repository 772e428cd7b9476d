#pragma once

#include <stop_token>
#include <string>

#include "collectors/management.h"
#include "grid/error.h"
#include "grid/grid.h"

namespace tavo {

// What a collector needs from the window. `Main` implements it; tests
// implement it over a bare grid.
class ReportContext {
  public:
    virtual ~ReportContext() = default;
    // The target computer: the text of txtComputer.
    virtual std::string computer() const = 0;
    // The results grid.
    virtual grid::Grid& results() = 0;
    // Show or hide the interval field txtFreq with its label lblFreq.
    virtual void setIntervalVisible(bool visible) = 0;
    // Put the mouse pointer back to the default.
    virtual void resetPointer() = 0;
    // The end-of-pass call of a one-pass report: the RUN/STOP action, which
    // stops the cycle while it runs and changes nothing once it has stopped.
    virtual void endOfPass() = 0;
    // Let waiting window events run (a click on STOP among them).
    virtual void processEvents() = 0;
    // The connection factory of the management query interface.
    virtual wmi::ConnectionFactory& management() = 0;
    // Set when the pass is no longer wanted (the user pressed STOP): the
    // collectors stop between objects and the pass's rows are dropped.
    virtual std::stop_token stopToken() const { return {}; }
    // A report that shows its failure as a row (the generic report) says
    // here what failed, for callers that report it elsewhere too.
    virtual void passFailed(const Error& /*failure*/) {}
    // A report that found no instances, and the service said why.
    virtual void passEmpty(const std::string& /*why*/) {}
    // The service could not read some values of this pass: how many, and which.
    virtual void passIncomplete(const std::string& /*lost*/) {}
};

}  // namespace tavo
