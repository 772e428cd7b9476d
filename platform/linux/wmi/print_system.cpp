#include "platform/linux/wmi/print_system.h"

#include <cups/cups.h>

#include "cycle/deadline.h"

namespace tavo::linuxwmi {

namespace {

using Clock = std::chrono::steady_clock;

// Never ask anyone for a password: a query must not stop at a prompt on
// the terminal the program was started from.
const char* noPassword(const char*, http_t*, const char*, const char*, void*) {
    return nullptr;
}

int keepWaiting(http_t*, void* data) {
    return Clock::now() < *static_cast<Clock::time_point*>(data) ? 1 : 0;
}

struct HttpCloser {
    void operator()(http_t* h) const { httpClose(h); }
};
struct IppDeleter {
    void operator()(ipp_t* p) const { ippDelete(p); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

// A connection to the server whose every wait ends at `until`.
Http connectBy(const std::string& server, Clock::time_point& until) {
    cupsSetPasswordCB2(noPassword, nullptr);
    // The client's settings live per thread, and this thread is new: set
    // here, they affect no one else; unset, CUPS_SERVER and client.conf apply.
    if (!server.empty()) cupsSetServer(server.c_str());
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return nullptr;
    Http http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                           static_cast<int>(left.count()), nullptr));
    if (!http) return nullptr;
    httpSetTimeout(http.get(), 0.2, keepWaiting, &until);
    return http;
}

std::optional<std::string> text(ipp_attribute_t* a) {
    const char* s = ippGetString(a, 0, nullptr);
    if (!s) return std::nullopt;
    return std::string(s);
}

std::optional<bool> boolean(ipp_attribute_t* a) {
    if (ippGetValueTag(a) != IPP_TAG_BOOLEAN) return std::nullopt;
    return ippGetBoolean(a, 0) != 0;
}

std::optional<int> integer(ipp_attribute_t* a) {
    const ipp_tag_t tag = ippGetValueTag(a);
    if (tag != IPP_TAG_INTEGER && tag != IPP_TAG_ENUM) return std::nullopt;
    return ippGetInteger(a, 0);
}

std::vector<std::string> strings(ipp_attribute_t* a) {
    std::vector<std::string> out;
    for (int i = 0; i < ippGetCount(a); ++i) {
        if (const char* s = ippGetString(a, i, nullptr)) out.emplace_back(s);
    }
    return out;
}

// A queue's attribute as it arrives from CUPS-Get-Printers.
void readPrinterAttribute(PrinterRecord& p, ipp_attribute_t* a) {
    const std::string name = ippGetName(a);
    if (name == "printer-name") {
        p.name = text(a).value_or("");
    } else if (name == "printer-info") {
        p.info = text(a);
    } else if (name == "printer-location") {
        p.location = text(a);
    } else if (name == "printer-make-and-model") {
        p.makeAndModel = text(a);
    } else if (name == "device-uri") {
        p.deviceUri = text(a);
    } else if (name == "printer-state-message") {
        p.stateMessage = text(a);
    } else if (name == "printer-state") {
        const int s = integer(a).value_or(0);
        if (s >= 3 && s <= 5) p.state = static_cast<PrinterState>(s);
    } else if (name == "printer-state-reasons") {
        for (auto& r : strings(a)) {
            if (r != "none") p.stateReasons.push_back(std::move(r));
        }
    } else if (name == "printer-is-shared") {
        p.shared = boolean(a);
    } else if (name == "printer-is-accepting-jobs") {
        p.acceptingJobs = boolean(a);
    } else if (name == "printer-type") {
        if (auto t = integer(a)) p.remote = (*t & CUPS_PRINTER_REMOTE) != 0;
    } else if (name == "printer-resolution-default" && ippGetValueTag(a) == IPP_TAG_RESOLUTION) {
        int y = 0;
        ipp_res_t units = IPP_RES_PER_INCH;
        int x = ippGetResolution(a, 0, &y, &units);
        if (units == IPP_RES_PER_CM) {
            x = static_cast<int>(x * 2.54 + 0.5);
            y = static_cast<int>(y * 2.54 + 0.5);
        }
        p.resolutionX = x;
        p.resolutionY = y;
    } else if (name == "copies-default") {
        p.copiesDefault = integer(a);
    } else if (name == "job-priority-default") {
        p.priorityDefault = integer(a);
    } else if (name == "document-format-default") {
        p.formatDefault = text(a);
    } else if (name == "document-format-supported") {
        p.formatsSupported = strings(a);
    }
}

std::optional<std::vector<PrinterRecord>> fetchPrinters(const std::string& server,
                                                        Clock::time_point until) {
    Http http = connectBy(server, until);
    if (!http) return std::nullopt;

    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(kPrinterAttributes.size()), nullptr, kPrinterAttributes.data());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    Ipp response(cupsDoRequest(http.get(), request, "/"));  // takes the request
    if (!response) return std::nullopt;
    // A server without queues answers "not found"; that is an empty list.
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) return std::vector<PrinterRecord>{};
    if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) return std::nullopt;

    std::vector<PrinterRecord> out;
    PrinterRecord current;
    bool inPrinter = false;
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a;
         a = ippNextAttribute(response.get())) {
        if (!ippGetName(a)) {  // group separator: one printer ends
            if (inPrinter && !current.name.empty()) out.push_back(std::move(current));
            current = PrinterRecord{};
            inPrinter = false;
            continue;
        }
        if (ippGetGroupTag(a) != IPP_TAG_PRINTER) continue;
        inPrinter = true;
        readPrinterAttribute(current, a);
    }
    if (inPrinter && !current.name.empty()) out.push_back(std::move(current));

    // The user's default (LPDEST, PRINTER, lpoptions), else the server's.
    if (const char* def = cupsGetDefault2(http.get())) {
        for (auto& p : out) p.isDefault = p.name == def;
    }
    return out;
}

std::optional<std::vector<PrintJobRecord>> fetchJobs(const std::string& server,
                                                     Clock::time_point until) {
    Http http = connectBy(server, until);
    if (!http) return std::nullopt;

    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                 "not-completed");
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(kJobAttributes.size()), nullptr, kJobAttributes.data());
    Ipp response(cupsDoRequest(http.get(), request, "/"));
    if (!response) return std::nullopt;
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) return std::vector<PrintJobRecord>{};
    if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) return std::nullopt;

    std::vector<PrintJobRecord> out;
    PrintJobRecord job;
    const auto flush = [&] {
        if (job.id > 0 && !job.queue.empty()) out.push_back(std::move(job));
        job = PrintJobRecord{};
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a;
         a = ippNextAttribute(response.get())) {
        const char* n = ippGetName(a);
        if (!n) {
            flush();
            continue;
        }
        if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
        const std::string name = n;
        if (name == "job-id") {
            job.id = integer(a).value_or(0);
        } else if (name == "job-printer-uri") {
            // ".../printers/NAME" or ".../classes/NAME": the queue is the last part.
            if (auto uri = text(a)) job.queue = uri->substr(uri->rfind('/') + 1);
        } else if (name == "job-state") {
            const int s = integer(a).value_or(0);
            if (s >= 3 && s <= 9) job.state = static_cast<JobState>(s);
        } else if (name == "job-name") {
            job.title = text(a);
        } else if (name == "job-originating-user-name") {
            job.owner = text(a);
        } else if (name == "document-format") {
            job.format = text(a);
        } else if (name == "job-k-octets") {
            if (auto v = integer(a)) job.sizeKb = *v;
        } else if (name == "job-priority") {
            job.priority = integer(a);
        } else if (name == "job-impressions") {
            job.pages = integer(a);
        } else if (name == "job-impressions-completed") {
            job.pagesCompleted = integer(a);
        } else if (name == "time-at-creation") {
            if (auto v = integer(a); v && *v > 0) job.created = *v;
        } else if (name == "time-at-processing") {
            if (auto v = integer(a); v && *v > 0) job.processing = *v;
        }
    }
    flush();
    return out;
}

class CupsPrintSystem : public PrintSystem {
  public:
    explicit CupsPrintSystem(std::string server) : server_(std::move(server)) {}

    std::optional<std::vector<PrinterRecord>> printers(
        std::chrono::milliseconds deadline) override {
        // A resolver or server that hangs cannot hold the pass: the worker
        // is left to end on its own socket timeouts and its answer dropped.
        const auto until = Clock::now() + deadline;
        auto r = callWithDeadline(
            deadline, [server = server_, until] { return fetchPrinters(server, until); });
        return r ? std::move(*r) : std::nullopt;
    }

    std::optional<std::vector<PrintJobRecord>> jobs(std::chrono::milliseconds deadline) override {
        const auto until = Clock::now() + deadline;
        auto r = callWithDeadline(deadline,
                                  [server = server_, until] { return fetchJobs(server, until); });
        return r ? std::move(*r) : std::nullopt;
    }

  private:
    std::string server_;
};

}  // namespace

std::shared_ptr<PrintSystem> makeCupsPrintSystem(std::string server) {
    return std::make_shared<CupsPrintSystem>(std::move(server));
}

}  // namespace tavo::linuxwmi
