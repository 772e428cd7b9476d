#include "platform/linux/wmi/provider.h"

// Placeholder until the query engine lands: a service that knows this
// computer but answers every query with no objects.
namespace tavo::linuxwmi {

namespace {
class EmptyResult : public wmi::ResultSet {
public:
    std::unique_ptr<wmi::Object> next() override { return nullptr; }
};
class EmptyConnection : public wmi::Connection {
public:
    std::unique_ptr<wmi::ResultSet> execQuery(const std::string&) override {
        return std::make_unique<EmptyResult>();
    }
};
class EmptyBackend : public wmi::Backend {
public:
    std::unique_ptr<wmi::Connection> connect(const std::string&) override {
        return std::make_unique<EmptyConnection>();
    }
};
}  // namespace

std::shared_ptr<wmi::Backend> makeProvider(SystemContext) { return std::make_shared<EmptyBackend>(); }

}  // namespace tavo::linuxwmi
