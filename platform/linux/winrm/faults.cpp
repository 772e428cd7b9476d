#include "platform/linux/winrm/faults.h"

#include <cstdio>

#include "platform/linux/winrm/wsman_object.h"

namespace tavo::winrm {

namespace {

// "w:AccessDenied" -> "AccessDenied": the prefix is the server's choice.
std::string localPart(const std::string& qname) {
    const auto colon = qname.rfind(':');
    return colon == std::string::npos ? qname : qname.substr(colon + 1);
}

std::string accessDeniedAdvice(const std::string& endpoint) {
    return "Access to the WinRM service at " + endpoint +
           " is denied. The account must be an administrator of that computer or a member of "
           "its \"Remote Management Users\" group with Remote Enable on root\\cimv2. A local "
           "administrator other than the built-in Administrator is stripped of its rights over "
           "the network by remote UAC unless that computer sets LocalAccountTokenFilterPolicy "
           "to 1 (HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System); a "
           "domain account is not affected.";
}

std::string listenerAdvice(const std::string& endpoint) {
    return "Check that a WinRM listener serves this address and port (on that computer: "
           "winrm enumerate winrm/config/listener; winrm quickconfig creates one on port 5985) "
           "and that the URL ends in /wsman; " +
           endpoint + " was asked.";
}

// WinRM's code for a filter its WMI plug-in could not run: for a WQL
// query, most often a class the computer does not have.
constexpr std::uint32_t kWinrmCannotProcessFilter = 0x8033801A;

bool cannotProcessFilter(const SoapFault& f) {
    if (localPart(f.subcode) == "CannotProcessFilter") return true;
    for (std::uint32_t c : f.codes)
        if (c == kWinrmCannotProcessFilter) return true;
    return false;
}

std::string hex(std::uint32_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", n);
    return text;
}

}  // namespace

std::uint32_t faultCode(const SoapFault& fault) {
    const std::string sub = localPart(fault.subcode);
    // WinRM's own number for a timeout says less than WMI's timeout code.
    if (sub == "TimedOut") return errc::kTimedOut;
    // WMI's error in its CIM form is the provider's own code.
    if (fault.wmiErrorCode != 0) return fault.wmiErrorCode;
    // The innermost code is the provider's own (WMI's 0x8004xxxx), the
    // outer one WinRM's wrapper around it.
    for (auto it = fault.codes.rbegin(); it != fault.codes.rend(); ++it) {
        const std::uint32_t c = *it;
        if (c == 0) continue;
        // WinRM's wrapper alone: Tavo's queries are generated, so a filter
        // WMI could not run names a class that computer lacks.
        if (c == kWinrmCannotProcessFilter) return errc::kInvalidClass;
        // A Win32 error code, as WMI over COM would give it.
        if (c < 0x10000) return 0x80070000u | c;
        return c;
    }
    if (sub == "AccessDenied") return errc::kAccessDenied;
    if (sub == "CannotProcessFilter") return errc::kInvalidQuery;
    if (sub == "DestinationUnreachable") return errc::kNotFound;
    return errc::kFailed;
}

namespace {

// WinRM's own code and subcode after WMI's words, for whoever looks the
// failure up in WinRM's documentation.
std::string winrmCode(const SoapFault& f) {
    if (!cannotProcessFilter(f)) return {};
    std::uint32_t code = kWinrmCannotProcessFilter;
    if (!f.codes.empty() && f.codes.front() != 0) code = f.codes.front();
    return " (WinRM " + hex(code) + ", CannotProcessFilter)";
}

}  // namespace

Error faultError(const SoapReply& reply, const EnumerationReply* parsed,
                 const std::string& endpoint, const std::string& query) {
    const std::string className = classOfQuery(query);
    const std::string what = "\"" + query + "\"";

    if (parsed && parsed->fault) {
        const SoapFault& f = *parsed->fault;
        const std::uint32_t code = faultCode(f);
        std::string text = !f.wmiErrorMessage.empty() ? f.wmiErrorMessage
                           : !f.message.empty()       ? f.message
                                                      : f.reason;
        if (text.empty()) text = "the service gave no reason";
        const std::string sub = localPart(f.subcode);
        std::string tail = " (" + (sub.empty() ? localPart(f.code) : sub) + ")";
        if (code == errc::kAccessDenied || sub == "AccessDenied")
            return Error(code, accessDeniedAdvice(endpoint) + " The service said: " + text);
        if (code == errc::kInvalidClass) {
            return Error(code,
                         "Invalid class: " +
                             (className.empty() ? std::string("the class queried") : className) +
                             " is not a class of root\\cimv2 on that computer. The service "
                             "said: " +
                             text + winrmCode(f));
        }
        if (sub == "DestinationUnreachable" || sub == "InvalidResourceURI" ||
            sub == "ActionNotSupported")
            return Error(code, "The WinRM service at " + endpoint + " cannot serve WMI queries: " +
                                   text + tail + ". " + listenerAdvice(endpoint));
        if (code == errc::kTimedOut)
            return Error(code, "The WinRM service at " + endpoint + " did not answer " + what +
                                   " in time: " + text);
        return Error(code,
                     "The WinRM service at " + endpoint + " failed " + what + ": " + text + tail);
    }

    const std::string status = "HTTP " + std::to_string(reply.httpStatus);
    switch (reply.httpStatus) {
        case 401:
        case 403:
            return Error(errc::kAccessDenied, accessDeniedAdvice(endpoint) + " (" + status + ")");
        case 404:
            return Error(errc::kServerUnavailable, "No WinRM listener answers at " + endpoint +
                                                       " (" + status + "). " +
                                                       listenerAdvice(endpoint));
        case 413:
            return Error(errc::kFailed, "The WinRM service at " + endpoint +
                                            " refused a request as too large (" + status + ")");
        case 415:
            return Error(errc::kFailed,
                         "The server at " + endpoint + " does not take SOAP requests (" + status +
                             "): it is probably not a WinRM listener. " + listenerAdvice(endpoint));
        default:
            return Error(errc::kFailed, "The WinRM service at " + endpoint + " failed " + what +
                                            " with " + status + " and gave no SOAP fault");
    }
}

}  // namespace tavo::winrm
