#include "winrm/server_paged_responder.h"

#include <algorithm>
#include <string>

namespace tavo::winrm::testing {

namespace {

const char* const kEnvelopeOpen =
    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
    "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
    "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:p=\"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/Win32_Service\">";

std::string between(const std::string& text, const std::string& open, const std::string& close) {
    std::size_t a = text.find(open);
    if (a == std::string::npos) return {};
    a += open.size();
    std::size_t b = text.find(close, a);
    return b == std::string::npos ? std::string() : text.substr(a, b - a);
}

// The request's MessageID, echoed as RelatesTo.
std::string messageId(const std::string& envelope) {
    std::size_t at = envelope.find("MessageID");
    if (at == std::string::npos) return {};
    std::size_t a = envelope.find('>', at);
    std::size_t b = envelope.find('<', a);
    return a == std::string::npos || b == std::string::npos ? std::string()
                                                            : envelope.substr(a + 1, b - a - 1);
}

void appendInstance(std::string& out, int i) {
    const std::string n = std::to_string(i);
    out += "<p:Win32_Service><p:Name>svc" + n + "</p:Name><p:DisplayName>Service number " + n +
           " &amp; co</p:DisplayName><p:State>" + (i % 3 ? "Running" : "Stopped") +
           "</p:State><p:ProcessId>" + std::to_string(1000 + i) + "</p:ProcessId>" +
           (i % 5 ? "<p:Description>Test service " + n + "</p:Description>"
                  : "<p:Description xsi:nil=\"true\"/>") +
           "</p:Win32_Service>";
}

class PagedResponder final : public SoapResponder {
  public:
    PagedResponder(int count, int pageSize) : count_(count), pageSize_(std::max(1, pageSize)) {}

    SoapReply answer(const std::string& envelope) override {
        const std::string action = between(envelope, "Action", "</");
        const bool enumerate = action.find("enumeration/Enumerate") != std::string::npos;
        const bool pull = action.find("enumeration/Pull") != std::string::npos;
        const bool release = action.find("enumeration/Release") != std::string::npos;
        std::string out = kEnvelopeOpen;
        out +=
            "<s:Header><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"
            "</a:To><a:RelatesTo>" +
            messageId(envelope) + "</a:RelatesTo><a:Action>";
        if (release) {
            out +=
                "http://schemas.xmlsoap.org/ws/2004/09/enumeration/ReleaseResponse</a:Action>"
                "</s:Header><s:Body/></s:Envelope>";
            return {200, out};
        }
        if (!enumerate && !pull)
            return {500,
                    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\">"
                    "<s:Body><s:Fault><s:Code><s:Value>s:Sender</s:Value></s:Code>"
                    "<s:Reason><s:Text xml:lang=\"en-US\">The action is not supported."
                    "</s:Text></s:Reason></s:Fault></s:Body></s:Envelope>"};
        int from = 0;
        if (pull) {
            std::string context = between(envelope, "EnumerationContext>", "</");
            std::size_t dash = context.rfind('-');
            from = dash == std::string::npos ? count_ : std::atoi(context.c_str() + dash + 1);
        }
        const int to = std::min(count_, from + pageSize_);
        const bool end = to >= count_;
        const std::string ns = enumerate ? "w:" : "n:";
        out += std::string("http://schemas.xmlsoap.org/ws/2004/09/enumeration/") +
               (enumerate ? "EnumerateResponse" : "PullResponse") +
               "</a:Action></s:Header><s:Body>";
        out += enumerate ? "<n:EnumerateResponse>" : "<n:PullResponse>";
        if (!end)
            out += "<n:EnumerationContext>uuid:5A1E0C2D-tavo-" + std::to_string(to) +
                   "</n:EnumerationContext>";
        out += "<" + ns + "Items>";
        for (int i = from; i < to; ++i) appendInstance(out, i);
        out += "</" + ns + "Items>";
        if (end) out += "<" + ns + "EndOfSequence/>";
        out += enumerate ? "</n:EnumerateResponse>" : "</n:PullResponse>";
        out += "</s:Body></s:Envelope>";
        return {200, out};
    }

  private:
    int count_;
    int pageSize_;
};

}  // namespace

std::shared_ptr<SoapResponder> makePagedResponder(int count, int pageSize) {
    return std::make_shared<PagedResponder>(count, pageSize);
}

}  // namespace tavo::winrm::testing
