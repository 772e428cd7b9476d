#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The print service as the printer classes see it: the queues with their
// attributes and the jobs not yet finished. The real one asks CUPS; tests
// can hand in their own.
namespace tavo::linuxwmi {

// IPP printer-state values.
enum class PrinterState { Unknown = 0, Idle = 3, Processing = 4, Stopped = 5 };

struct PrinterRecord {
    std::string name;  // the queue
    bool isDefault = false;
    std::optional<std::string> info;          // printer-info
    std::optional<std::string> location;      // printer-location
    std::optional<std::string> makeAndModel;  // printer-make-and-model
    std::optional<std::string> deviceUri;     // device-uri
    std::optional<std::string> stateMessage;  // printer-state-message
    PrinterState state = PrinterState::Unknown;
    std::vector<std::string> stateReasons;  // printer-state-reasons, "none" left out
    std::optional<bool> shared;             // printer-is-shared
    std::optional<bool> acceptingJobs;      // printer-is-accepting-jobs
    std::optional<bool> remote;             // a queue of another server (printer-type)
    std::optional<int> resolutionX;         // printer-resolution-default, in dpi
    std::optional<int> resolutionY;
    std::optional<int> copiesDefault;           // copies-default
    std::optional<int> priorityDefault;         // job-priority-default
    std::optional<std::string> formatDefault;   // document-format-default
    std::vector<std::string> formatsSupported;  // document-format-supported
};

// IPP job-state values.
enum class JobState {
    Unknown = 0,
    Pending = 3,
    Held = 4,
    Processing = 5,
    Stopped = 6,
    Canceled = 7,
    Aborted = 8,
    Completed = 9
};

struct PrintJobRecord {
    int id = 0;
    std::string queue;
    JobState state = JobState::Unknown;
    std::optional<std::string> title;       // job-name
    std::optional<std::string> owner;       // job-originating-user-name
    std::optional<std::string> format;      // document-format
    std::optional<std::int64_t> sizeKb;     // job-k-octets
    std::optional<int> priority;            // job-priority
    std::optional<int> pages;               // job-impressions
    std::optional<int> pagesCompleted;      // job-impressions-completed
    std::optional<std::time_t> created;     // time-at-creation
    std::optional<std::time_t> processing;  // time-at-processing
};

// The attributes the printer classes read of a queue and of a job, asked
// for by name wherever a print service is asked (here and on another
// computer through ipptool).
inline constexpr std::array<const char*, 16> kPrinterAttributes = {"printer-name",
                                                                   "printer-info",
                                                                   "printer-location",
                                                                   "printer-make-and-model",
                                                                   "device-uri",
                                                                   "printer-state",
                                                                   "printer-state-message",
                                                                   "printer-state-reasons",
                                                                   "printer-is-shared",
                                                                   "printer-is-accepting-jobs",
                                                                   "printer-type",
                                                                   "printer-resolution-default",
                                                                   "copies-default",
                                                                   "job-priority-default",
                                                                   "document-format-default",
                                                                   "document-format-supported"};
inline constexpr std::array<const char*, 12> kJobAttributes = {"job-id",
                                                               "job-printer-uri",
                                                               "job-state",
                                                               "job-name",
                                                               "job-originating-user-name",
                                                               "document-format",
                                                               "job-k-octets",
                                                               "job-priority",
                                                               "job-impressions",
                                                               "job-impressions-completed",
                                                               "time-at-creation",
                                                               "time-at-processing"};

class PrintSystem {
  public:
    virtual ~PrintSystem() = default;
    // Every queue, or nothing when the service did not answer within
    // `deadline` (not running, unreachable, hung).
    virtual std::optional<std::vector<PrinterRecord>> printers(
        std::chrono::milliseconds deadline) = 0;
    // The jobs of every queue that have not finished, or nothing as above.
    virtual std::optional<std::vector<PrintJobRecord>> jobs(std::chrono::milliseconds deadline) = 0;
};

// CUPS at `server` ("host", "host:port" or a socket path); empty means the
// server CUPS_SERVER names, else the client's configured one.
std::shared_ptr<PrintSystem> makeCupsPrintSystem(std::string server = {});

}  // namespace tavo::linuxwmi
