#include "platform/linux/wnet/linux_wnet.h"

#include <unistd.h>

#include <cstdlib>

// Placeholder until the back ends land: a network with no providers.
namespace tavo::linuxwnet {

namespace {
class NoNetwork : public netenum::WNetApi {
public:
    DWORD openEnum(DWORD, DWORD, DWORD, NETRESOURCEA*, HANDLE*) override { return ERROR_NO_NETWORK; }
    DWORD enumResource(HANDLE, DWORD*, void*, DWORD*) override { return ERROR_INVALID_HANDLE; }
    DWORD closeEnum(HANDLE) override { return NO_ERROR; }
    std::string userName() override {
        const char* u = std::getenv("USER");
        return u ? u : "";
    }
    std::string computerName() override {
        char buf[256] = {};
        return gethostname(buf, sizeof buf - 1) == 0 ? buf : "";
    }
};
}  // namespace

std::shared_ptr<netenum::WNetApi> makeWNetApi() { return std::make_shared<NoNetwork>(); }

}  // namespace tavo::linuxwnet
