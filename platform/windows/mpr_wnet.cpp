#include "platform/windows/mpr_wnet.h"

#include <windows.h>
#include <winnetwk.h>

namespace tavo::winwnet {

namespace {
class MprWNetApi : public netenum::WNetApi {
  public:
    DWORD openEnum(DWORD scope, DWORD type, DWORD usage, NETRESOURCEA* resource,
                   HANDLE* handle) override {
        return WNetOpenEnumA(scope, type, usage, resource, handle);
    }
    DWORD enumResource(HANDLE handle, DWORD* count, void* buffer, DWORD* bufferSize) override {
        return WNetEnumResourceA(handle, count, buffer, bufferSize);
    }
    DWORD closeEnum(HANDLE handle) override { return WNetCloseEnum(handle); }

    std::string userName() override {
        char buf[257] = {};
        DWORD len = sizeof buf;
        return GetUserNameA(buf, &len) ? std::string(buf) : std::string();
    }
    std::string computerName() override {
        char buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD len = sizeof buf;
        return GetComputerNameA(buf, &len) ? std::string(buf, len) : std::string();
    }
};
}  // namespace

std::shared_ptr<netenum::WNetApi> makeMprWNetApi() {
    return std::make_shared<MprWNetApi>();
}

}  // namespace tavo::winwnet
