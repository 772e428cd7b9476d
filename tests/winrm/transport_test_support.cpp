#include "winrm/transport_test_support.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace tavo::winrm::testing {

namespace {

void run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

}  // namespace

Certificates makeCertificates(const TempDir& dir) {
    Certificates c;
    const std::string d = dir.path().string();
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    c.caFile = d + "/ca.pem";
    run("openssl req -x509" + key + " -keyout " + d + "/ca.key -out " + c.caFile +
        " -days 2 -subj '/CN=Tavo Test CA'");
    // A key of its own and a certificate the CA signs for `cn`, with `san` as
    // its alternative names; its files are named after `base`.
    const auto caSigned = [&](const std::string& base, const std::string& cn,
                              const std::string& san, std::string& keyFile, std::string& certFile) {
        const std::string stem = d + "/" + base;
        keyFile = stem + ".key";
        certFile = stem + ".pem";
        std::ofstream(stem + ".ext") << "subjectAltName=" << san << "\n";
        run("openssl req" + key + " -keyout " + keyFile + " -out " + stem +
            ".csr -subj '/CN=" + cn + "'");
        run("openssl x509 -req -in " + stem + ".csr -CA " + c.caFile + " -CAkey " + d +
            "/ca.key -CAcreateserial -out " + certFile + " -days 2 -extfile " + stem + ".ext");
    };
    caSigned("server", "localhost", "DNS:localhost,IP:127.0.0.1", c.caSignedKey, c.caSignedCert);
    caSigned("other", "other.example", "DNS:other.example", c.otherNameKey, c.otherNameCert);
    c.selfSignedKey = d + "/self.key";
    c.selfSignedCert = d + "/self.pem";
    run("openssl req -x509" + key + " -keyout " + c.selfSignedKey + " -out " + c.selfSignedCert +
        " -days 2 -subj '/CN=localhost' -addext subjectAltName=DNS:localhost,IP:127.0.0.1");
    return c;
}

std::string opensslFingerprint(const std::string& certFile) {
    // "sha256 Fingerprint=AB:CD:...\n"
    std::string out = output("openssl x509 -noout -fingerprint -sha256 -in " + certFile);
    std::size_t eq = out.find('=');
    if (eq == std::string::npos) return {};
    std::string hex = out.substr(eq + 1);
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    return "SHA256:" + hex;
}

namespace {
std::string envelope(const std::string& to, const std::string& action, const std::string& body) {
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
           "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\"><s:Header><a:To>" +
           to +
           "</a:To><w:ResourceURI s:mustUnderstand=\"true\">http://schemas.microsoft.com/wbem/"
           "wsman/1/wmi/root/cimv2/*</w:ResourceURI><a:Action s:mustUnderstand=\"true\">"
           "http://schemas.xmlsoap.org/ws/2004/09/enumeration/" +
           action +
           "</a:Action><a:MessageID>uuid:0F1E2D3C-0000-4000-8000-000000000001</a:MessageID>"
           "<w:OperationTimeout>PT20S</w:OperationTimeout></s:Header><s:Body>" +
           body + "</s:Body></s:Envelope>";
}
}  // namespace

std::string enumerateEnvelope(const std::string& to) {
    return envelope(to, "Enumerate",
                    "<n:Enumerate><w:OptimizeEnumeration/><w:MaxElements>32000</w:MaxElements>"
                    "<w:Filter Dialect=\"http://schemas.microsoft.com/wbem/wsman/1/WQL\">"
                    "SELECT * FROM Win32_Service</w:Filter></n:Enumerate>");
}

std::string pullEnvelope(const std::string& to, const std::string& context) {
    return envelope(to, "Pull",
                    "<n:Pull><n:EnumerationContext>" + context +
                        "</n:EnumerationContext><n:MaxElements>32000</n:MaxElements></n:Pull>");
}

std::string contextOf(const std::string& reply) {
    const std::string open = "<n:EnumerationContext>";
    std::size_t a = reply.find(open);
    if (a == std::string::npos) return {};
    a += open.size();
    return reply.substr(a, reply.find('<', a) - a);
}

int instancesIn(const std::string& reply) {
    int n = 0;
    for (std::size_t at = reply.find("<p:Win32_Service>"); at != std::string::npos;
         at = reply.find("<p:Win32_Service>", at + 1))
        ++n;
    return n;
}

}  // namespace tavo::winrm::testing
