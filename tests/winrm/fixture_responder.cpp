#include "winrm/fixture_responder.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/linux/winrm/envelope.h"
#include "platform/linux/winrm/wsman_names.h"
#include "platform/linux/winrm/wsman_object.h"

namespace tavo::testing {

namespace ns = winrm::ns;

namespace {

const xmlNode* findElement(const xmlNode* node, const char* uri, const char* local) {
    for (const xmlNode* n = node; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (n->ns && std::strcmp(reinterpret_cast<const char*>(n->ns->href), uri) == 0 &&
            std::strcmp(reinterpret_cast<const char*>(n->name), local) == 0)
            return n;
        if (const xmlNode* found = findElement(n->children, uri, local)) return found;
    }
    return nullptr;
}

std::string textOf(const xmlNode* n) {
    if (!n) return {};
    xmlChar* t = xmlNodeGetContent(n);
    std::string out = t ? reinterpret_cast<const char*>(t) : "";
    xmlFree(t);
    return out;
}

std::string fill(const std::string& body, const std::map<std::string, std::string>& values) {
    std::string out;
    out.reserve(body.size() + 128);
    std::size_t at = 0;
    while (at < body.size()) {
        const std::size_t open = body.find("{{", at);
        if (open == std::string::npos) break;
        const std::size_t close = body.find("}}", open + 2);
        if (close == std::string::npos) break;
        out.append(body, at, open - at);
        const auto it = values.find(body.substr(open + 2, close - open - 2));
        if (it != values.end()) out += it->second;
        at = close + 2;
    }
    out.append(body, at, std::string::npos);
    return out;
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const char* kEnvelopeStart =
    "<s:Envelope xml:lang=\"en-US\" xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
    "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
    "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\" "
    "xmlns:x=\"http://www.w3.org/2001/XMLSchema-instance\"><s:Header><a:Action>";
const char* kEnvelopeHeaderEnd =
    "</a:Action><a:MessageID>{{MESSAGE_ID}}</a:MessageID><a:To>"
    "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To><a:RelatesTo>"
    "{{RELATES_TO}}</a:RelatesTo></s:Header><s:Body>";

std::string replyEnvelope(const char* action, const std::string& body) {
    return std::string(kEnvelopeStart) + action + kEnvelopeHeaderEnd + body +
           "</s:Body></s:Envelope>";
}

std::string simpleFault(const std::string& subcode, const std::string& text) {
    return replyEnvelope(ns::kActionFault,
                         "<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>" +
                             subcode + "</s:Value></s:Subcode></s:Code><s:Reason><s:Text>" +
                             winrm::xmlEscape(text) + "</s:Text></s:Reason></s:Fault>");
}

}  // namespace

winrm::SoapReply FixtureResponder::answer(const std::string& envelope) {
    xmlDocPtr doc =
        xmlReadMemory(envelope.data(), static_cast<int>(envelope.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return {400, "not XML"};
    const xmlNode* root = xmlDocGetRootElement(doc);
    RequestRecord r;
    r.action = textOf(findElement(root, ns::kAddressing, "Action"));
    const std::string messageId = textOf(findElement(root, ns::kAddressing, "MessageID"));
    r.resourceUri = textOf(findElement(root, ns::kWsman, "ResourceURI"));
    r.operationTimeout = textOf(findElement(root, ns::kWsman, "OperationTimeout"));
    r.filter = textOf(findElement(root, ns::kWsman, "Filter"));
    r.context = textOf(findElement(root, ns::kEnumeration, "EnumerationContext"));
    if (const xmlNode* body = findElement(root, ns::kSoap, "Body")) {
        const bool pull = findElement(body->children, ns::kEnumeration, "Pull") != nullptr;
        r.maxElements = textOf(
            findElement(body->children, pull ? ns::kEnumeration : ns::kWsman, "MaxElements"));
    }
    xmlFreeDoc(doc);
    const std::string prefix = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/";
    if (r.action.rfind(prefix, 0) == 0) r.action = r.action.substr(prefix.size());

    std::map<std::string, std::string> values{{"RELATES_TO", winrm::xmlEscape(messageId)},
                                              {"MESSAGE_ID", winrm::newMessageId()},
                                              {"QUERY", winrm::xmlEscape(r.filter)}};
    std::unique_lock lock(mutex_);
    requests_.push_back(r);

    if (r.action == "Enumerate") {
        const std::string className = winrm::classOfQuery(r.filter);
        lock.unlock();
        Pages pages = pagesFor(className);
        lock.lock();
        if (!pages || pages->empty()) return {500, fill(invalidClassFault(), values)};
        Open open{pages, 0};
        const std::string context = "uuid:" + std::to_string(++serial_) + "-fixture-context";
        values["CONTEXT"] = context;
        const Page page = (*pages)[open.next++];
        if (open.next < pages->size()) open_.emplace_back(context, std::move(open));
        lock.unlock();
        if (page.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(page.delayMs));
        return {page.status, fill(page.body, values)};
    }
    if (r.action == "Pull" || r.action == "Release") {
        const auto it = std::find_if(open_.begin(), open_.end(),
                                     [&](const auto& o) { return o.first == r.context; });
        if (it == open_.end()) {
            return {500, fill(simpleFault("n:InvalidEnumerationContext",
                                          "The enumeration context supplied in the message is "
                                          "not valid."),
                              values)};
        }
        if (r.action == "Release") {
            open_.erase(it);
            return {200, fill(replyEnvelope(ns::kActionReleaseResponse, "<n:ReleaseResponse/>"),
                              values)};
        }
        values["CONTEXT"] = r.context;
        const Page page = (*it->second.pages)[it->second.next++];
        if (it->second.next >= it->second.pages->size()) open_.erase(it);
        lock.unlock();
        if (page.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(page.delayMs));
        return {page.status, fill(page.body, values)};
    }
    return {500,
            fill(simpleFault("a:ActionNotSupported", "The action is not supported by the service."),
                 values)};
}

std::vector<RequestRecord> FixtureResponder::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int FixtureResponder::openContexts() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(open_.size());
}

namespace {

class FolderResponder : public FixtureResponder {
  public:
    FolderResponder(std::filesystem::path dir, std::string invalidClassFile)
        : dir_(std::move(dir)), invalidClassFile_(std::move(invalidClassFile)) {}

  protected:
    Pages pagesFor(const std::string& className) override {
        // Class names are case-insensitive, as WMI matches them.
        std::filesystem::path folder;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.size() == className.size() &&
                std::equal(name.begin(), name.end(), className.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                }))
                folder = entry.path();
        }
        if (folder.empty() || className.empty() || className[0] == '_') return nullptr;
        auto pages = std::make_shared<std::vector<Page>>();
        for (int i = 1;; ++i) {
            const auto file = folder / ("page-" + std::to_string(i) + ".xml");
            if (!std::filesystem::exists(file)) break;
            pages->push_back({200, 0, readFile(file)});
        }
        std::istringstream conf(readFile(folder / "replies.conf"));
        std::string what;
        std::size_t page = 0;
        int value = 0;
        while (conf >> what >> page >> value) {
            if (page < 1 || page > pages->size()) continue;
            if (what == "status") (*pages)[page - 1].status = value;
            if (what == "delay") (*pages)[page - 1].delayMs = value;
        }
        return pages;
    }
    std::string invalidClassFault() override {
        return readFile(dir_ / "_faults" / invalidClassFile_);
    }

  private:
    std::filesystem::path dir_;
    std::string invalidClassFile_;
};

// Process-like instances in the shape of the fixtures: every kind of value
// (text, nil, numbers, uint64 text, a datetime, an omitted array).
std::string syntheticInstance(int i) {
    const std::string n = std::to_string(i);
    std::string s =
        "<p:Win32_Process xmlns:p=\"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/"
        "Win32_Process\" xmlns:cim=\"http://schemas.dmtf.org/wbem/wscim/1/common\" "
        "x:type=\"p:Win32_Process_Type\">";
    auto prop = [&](const char* name, const std::string& value) {
        s += "<p:";
        s += name;
        s += '>';
        s += value;
        s += "</p:";
        s += name;
        s += '>';
    };
    auto nil = [&](const char* name) {
        s += "<p:";
        s += name;
        s += " x:nil=\"true\"/>";
    };
    prop("CreationClassName", "Win32_Process");
    prop("Caption", "worker" + n + ".exe");
    prop("CommandLine", "\"C:\\Program Files\\Contoso\\worker" + n + ".exe\" --slot " + n);
    s += "<p:CreationDate><cim:Datetime>2026-12-08T06:" + std::to_string(10 + i % 50) +
         ":01.25Z</cim:Datetime></p:CreationDate>";
    prop("CSCreationClassName", "Win32_ComputerSystem");
    prop("CSName", "WIN-SYNTHETIC");
    prop("Description", "worker" + n + ".exe");
    prop("ExecutablePath", "C:\\Program Files\\Contoso\\worker" + n + ".exe");
    nil("ExecutionState");
    prop("Handle", std::to_string(4 * i + 8));
    prop("HandleCount", std::to_string(100 + i % 900));
    nil("InstallDate");
    prop("KernelModeTime", std::to_string(156250ull * static_cast<unsigned>(i)));
    prop("MaximumWorkingSetSize", "1380");
    prop("MinimumWorkingSetSize", "200");
    prop("Name", "worker" + n + ".exe");
    prop("OSCreationClassName", "Win32_OperatingSystem");
    prop("OSName",
         "Microsoft Windows Server 2022 Standard|C:\\Windows|\\Device\\Harddisk0\\Partition2");
    prop("OtherOperationCount", "900");
    prop("OtherTransferCount", "20480");
    prop("PageFaults", std::to_string(2000 + i));
    prop("PageFileUsage", "4096");
    prop("ParentProcessId", "612");
    prop("PeakPageFileUsage", "5120");
    prop("PeakVirtualSize", "2203455488000");
    prop("PeakWorkingSetSize", "20480");
    prop("Priority", "8");
    prop("PrivatePageCount", "4194304");
    prop("ProcessId", std::to_string(4 * i + 8));
    prop("QuotaNonPagedPoolUsage", "14");
    prop("QuotaPagedPoolUsage", "120");
    prop("QuotaPeakNonPagedPoolUsage", "16");
    prop("QuotaPeakPagedPoolUsage", "128");
    prop("ReadOperationCount", "120");
    prop("ReadTransferCount", "524288");
    prop("SessionId", "0");
    nil("Status");
    nil("TerminationDate");
    prop("ThreadCount", "12");
    prop("UserModeTime", "781250");
    prop("VirtualSize", "2203318222848");
    prop("WindowsVersion", "10.0.20348");
    prop("WorkingSetSize", "20971520");
    prop("WriteOperationCount", "8");
    prop("WriteTransferCount", "4096");
    s += "</p:Win32_Process>";
    return s;
}

class SyntheticResponder : public FixtureResponder {
  public:
    SyntheticResponder(int instances, int pageSize) {
        auto pages = std::make_shared<std::vector<Page>>();
        const int size = std::max(1, pageSize);
        for (int at = 0; at < instances || pages->empty(); at += size) {
            std::string items;
            for (int i = at; i < std::min(instances, at + size); ++i) items += syntheticInstance(i);
            const bool first = pages->empty();
            const bool last = at + size >= instances;
            std::string body;
            if (first) {
                body = "<n:EnumerateResponse><n:EnumerationContext>" +
                       std::string(last ? "" : "{{CONTEXT}}") + "</n:EnumerationContext><w:Items>" +
                       items + "</w:Items>" + (last ? "<w:EndOfSequence/>" : "") +
                       "</n:EnumerateResponse>";
                body = replyEnvelope(ns::kActionEnumerateResponse, body);
            } else {
                body = "<n:PullResponse>" +
                       std::string(
                           last ? "" : "<n:EnumerationContext>{{CONTEXT}}</n:EnumerationContext>") +
                       "<n:Items>" + items + "</n:Items>" + (last ? "<n:EndOfSequence/>" : "") +
                       "</n:PullResponse>";
                body = replyEnvelope(ns::kActionPullResponse, body);
            }
            pages->push_back({200, 0, std::move(body)});
            if (last) break;
        }
        pages_ = std::move(pages);
    }

  protected:
    Pages pagesFor(const std::string&) override { return pages_; }
    std::string invalidClassFault() override { return {}; }

  private:
    Pages pages_;
};

}  // namespace

std::shared_ptr<FixtureResponder> makeFixtureResponder(std::filesystem::path dir,
                                                       std::string invalidClassFile) {
    return std::make_shared<FolderResponder>(std::move(dir), std::move(invalidClassFile));
}

std::shared_ptr<FixtureResponder> makeSyntheticResponder(int instances, int pageSize) {
    return std::make_shared<SyntheticResponder>(instances, pageSize);
}

}  // namespace tavo::testing
