#include <chrono>
#include <map>

#include "platform/linux/wmi/print_system.h"
#include "platform/linux/wmi/system_classes.h"

namespace tavo::linuxwmi {

namespace {

// Windows' JOB_STATUS_* flags (StatusMask) and the words it shows for them.
struct JobStatusText {
    std::uint32_t mask;
    const char* text;  // nullptr: a job waiting its turn has no status word
    const char* status;
};

JobStatusText describe(JobState s) {
    switch (s) {
        case JobState::Pending:
            return {0x0, nullptr, "OK"};
        case JobState::Held:
            return {0x1, "Paused", "OK"};
        case JobState::Processing:
            return {0x10, "Printing", "OK"};
        // The job waits on a stopped printer.
        case JobState::Stopped:
            return {0x200, "Blocked", "Degraded"};
        case JobState::Canceled:
            return {0x100, "Deleted", "OK"};
        case JobState::Aborted:
            return {0x2, "Error", "Error"};
        case JobState::Completed:
            return {0x80, "Printed", "OK"};
        case JobState::Unknown:
            break;
    }
    return {0, nullptr, nullptr};
}

}  // namespace

std::vector<Instance> printJobInstances(const SystemContext& ctx) {
    if (!ctx.printing) return {};
    const auto start = std::chrono::steady_clock::now();
    auto jobs = ctx.printing->jobs(ctx.deadline);
    if (!jobs || jobs->empty()) return {};

    // The driver each queue uses; left null if the queues do not answer in
    // what remains of the deadline.
    std::map<std::string, std::string> drivers;
    const auto left = ctx.deadline - std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start);
    if (left.count() > 0) {
        if (auto printers = ctx.printing->printers(left)) {
            for (const auto& p : *printers) {
                if (p.makeAndModel) drivers[p.name] = *p.makeAndModel;
            }
        }
    }

    const std::string host = "\\\\" + ctx.computerName();
    std::vector<Instance> out;
    for (const PrintJobRecord& j : *jobs) {
        Instance job("Win32_PrintJob");
        // "queue, id" is how Windows names a job.
        const std::string name = j.queue + ", " + std::to_string(j.id);
        job.set("Name", name);
        job.set("Caption", name);
        job.set("Description", name);
        job.setInt("JobId", j.id);
        job.set("HostPrintQueue", host);
        if (auto it = drivers.find(j.queue); it != drivers.end()) job.set("DriverName", it->second);
        if (j.title) job.set("Document", *j.title);
        if (j.owner) {
            job.set("Owner", *j.owner);
            job.set("Notify", *j.owner);
        }
        if (j.format) job.set("DataType", *j.format);
        // CUPS counts in kilobytes only; lpstat shows the same product.
        if (j.sizeKb && *j.sizeKb >= 0 && *j.sizeKb <= 0x7fffffffLL / 1024) {
            job.setInt("Size", *j.sizeKb * 1024);
        }
        if (j.priority) job.setInt("Priority", *j.priority);
        if (j.pages && *j.pages > 0) job.setInt("TotalPages", *j.pages);
        if (j.pagesCompleted) job.setInt("PagesPrinted", *j.pagesCompleted);
        if (j.created) job.set("TimeSubmitted", ctx.system()->dmtfLocal(*j.created, 0));
        if (j.processing) job.set("StartTime", ctx.system()->dmtfLocal(*j.processing, 0));
        const JobStatusText st = describe(j.state);
        if (j.state != JobState::Unknown) job.setInt("StatusMask", st.mask);
        if (st.text) job.set("JobStatus", st.text);
        if (st.status) job.set("Status", st.status);
        out.push_back(std::move(job));
    }
    return out;
}

}  // namespace tavo::linuxwmi
