// Tavo's transport as a pipe, so that a test written in another language
// can send the very envelopes it sends over its own client through ours and
// compare what comes back. Standard input: the password on the first line
// (never on the command line), then requests framed as "<length>\n<bytes>".
// Standard output: "<status> <length>\n<bytes>" per reply, or
// "ERR <number> <length>\n<description>".
// With --classes, it instead runs "SELECT * FROM <class>" for each class
// named on the following lines through Tavo's WinRM back end, and prints per
// object one line: the names of its non-null properties, sorted, then "END".
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <algorithm>
#include <vector>

#include "collectors/management.h"
#include "grid/error.h"
#include "platform/linux/winrm/transport_http.h"
#include "platform/linux/winrm/winrm_backend.h"

namespace {

class StdinPrompter final : public tavo::remote::Prompter {
  public:
    explicit StdinPrompter(std::string password) : password_(std::move(password)) {}
    tavo::remote::TrustAnswer askTrust(const tavo::remote::TrustQuestion&) override {
        return tavo::remote::TrustAnswer::Cancel;
    }
    std::optional<tavo::remote::SecretAnswer> askSecret(
        const tavo::remote::SecretQuestion& q) override {
        if (!q.lastFailure.empty()) return std::nullopt;  // one try
        return tavo::remote::SecretAnswer{"", password_};
    }

  private:
    std::string password_;
};

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: wsman_relay --host H --port P [--user U] [--auth negotiate|basic|none]\n"
                 "         [--https] [--ca FILE]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    tavo::winrm::TransportOptions o;
    bool classes = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (a == "--host") {
            o.host = value();
        } else if (a == "--port") {
            o.port = std::atoi(value().c_str());
        } else if (a == "--user") {
            o.user = value();
        } else if (a == "--auth") {
            std::string v = value();
            o.auth = v == "basic"  ? tavo::winrm::AuthMethod::Basic
                     : v == "none" ? tavo::winrm::AuthMethod::None
                                   : tavo::winrm::AuthMethod::Negotiate;
        } else if (a == "--classes") {
            classes = true;
        } else if (a == "--https") {
            o.https = true;
        } else if (a == "--ca") {
            o.caFile = value();
        } else {
            usage();
        }
    }
    std::string password;
    std::getline(std::cin, password);
    o.prompter = std::make_shared<StdinPrompter>(password);
    auto transport = tavo::winrm::makeHttpTransport(o);

    if (classes) {
        auto backend =
            tavo::winrm::makeWinRmBackend([transport](const std::string&) { return transport; });
        auto connection = backend->connect(o.host);
        std::string className;
        while (std::getline(std::cin, className)) {
            try {
                auto results = connection->execQuery("SELECT * FROM " + className);
                while (auto object = results->next()) {
                    std::vector<std::string> names;
                    for (const std::string& name : object->propertyNames())
                        if (!object->get(name).isNull()) names.push_back(name);
                    std::sort(names.begin(), names.end());
                    for (const std::string& name : names) std::cout << name << ' ';
                    std::cout << '\n';
                }
                std::cout << "END\n";
            } catch (const tavo::Error& e) {
                std::cout << "ERR " << e.numberText() << " " << e.description() << "\n";
            }
            std::cout.flush();
        }
        return 0;
    }

    std::string header;
    while (std::getline(std::cin, header)) {
        std::string envelope(std::strtoull(header.c_str(), nullptr, 10), '\0');
        if (!std::cin.read(envelope.data(), static_cast<std::streamsize>(envelope.size()))) break;
        try {
            tavo::winrm::SoapReply r = transport->post(envelope, std::chrono::seconds(20));
            std::cout << r.httpStatus << " " << r.body.size() << "\n" << r.body;
        } catch (const tavo::Error& e) {
            std::cout << "ERR " << e.numberText() << " " << e.description().size() << "\n"
                      << e.description();
        }
        std::cout.flush();
    }
    return 0;
}
