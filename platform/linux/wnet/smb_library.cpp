#include "platform/linux/wnet/smb_library.h"

#include <dlfcn.h>

namespace tavo::linuxwnet {

namespace {

template <class F>
bool resolve(void* handle, const char* name, F& out) {
    out = reinterpret_cast<F>(dlsym(handle, name));
    return out != nullptr;
}

const SmbLibrary* load() {
    // The soname of the ABI the headers describe; kept loaded for good.
    void* handle = dlopen("libsmbclient.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    static SmbLibrary lib;
    const bool all = resolve(handle, "smbc_new_context", lib.newContext) &&
                     resolve(handle, "smbc_free_context", lib.freeContext) &&
                     resolve(handle, "smbc_init_context", lib.initContext) &&
                     resolve(handle, "smbc_setDebug", lib.setDebug) &&
                     resolve(handle, "smbc_setTimeout", lib.setTimeout) &&
                     resolve(handle, "smbc_setFunctionAuthDataWithContext", lib.setAuthData) &&
                     resolve(handle, "smbc_getFunctionOpendir", lib.opendir) &&
                     resolve(handle, "smbc_getFunctionReaddir", lib.readdir) &&
                     resolve(handle, "smbc_getFunctionClosedir", lib.closedir);
    return all ? &lib : nullptr;
}

}  // namespace

const SmbLibrary* smbLibrary() {
    static const SmbLibrary* const lib = load();
    return lib;
}

}  // namespace tavo::linuxwnet
