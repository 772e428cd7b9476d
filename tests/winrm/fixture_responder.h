#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/winrm/soap_transport.h"

// A WinRM service made of fixture replies, for tests, the benchmark and a
// stand-alone test server. It answers Enumerate, Pull and Release the way a
// Windows service does: the class named in the WQL filter picks a folder of
// pages (tests/data/winrm/<class>/page-N.xml, each a whole reply), every
// Pull brings the next page of that enumeration's context, a class without
// a folder gets WMI's "Invalid class" fault.
namespace tavo::testing {

// What the responder was asked, for tests to check.
struct RequestRecord {
    std::string action;   // "Enumerate", "Pull", "Release", or the URI when unknown
    std::string context;  // of a Pull or Release
    std::string filter;   // of an Enumerate
    std::string resourceUri;
    std::string operationTimeout;
    std::string maxElements;
};

class FixtureResponder : public winrm::SoapResponder {
  public:
    winrm::SoapReply answer(const std::string& envelope) override;

    std::vector<RequestRecord> requests() const;
    // Enumeration contexts still open (neither ended nor released).
    int openContexts() const;

  protected:
    struct Page {
        int status = 200;
        int delayMs = 0;
        std::string body;  // with {{CONTEXT}}, {{RELATES_TO}}, {{MESSAGE_ID}} to fill
    };
    using Pages = std::shared_ptr<const std::vector<Page>>;
    // The pages for `className`, or nullptr for a class it lacks.
    virtual Pages pagesFor(const std::string& className) = 0;
    virtual std::string invalidClassFault() = 0;

  private:
    struct Open {
        Pages pages;
        std::size_t next = 0;
    };
    mutable std::mutex mutex_;
    std::vector<RequestRecord> requests_;
    std::vector<std::pair<std::string, Open>> open_;
    int serial_ = 0;
};

// Answers from the fixture folders under `dir` (tests/data/winrm); a class
// without a folder gets the fault in _faults/`invalidClassFile`.
std::shared_ptr<FixtureResponder> makeFixtureResponder(
    std::filesystem::path dir, std::string invalidClassFile = "invalid-class.xml");

// Answers any class with `instances` synthetic process-like instances, in
// pages of `pageSize` (the server's choice, as Windows makes it).
std::shared_ptr<FixtureResponder> makeSyntheticResponder(int instances, int pageSize = 100);

}  // namespace tavo::testing
