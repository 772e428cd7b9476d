#pragma once

#include <libsmbclient.h>

// libsmbclient, loaded on first use. Linked at build time it brings some
// eighty Samba libraries into every start of the window and of tavo-report,
// most of the time spent before main(); only a network browse needs it.
namespace tavo::linuxwnet {

struct SmbLibrary {
    decltype(&smbc_new_context) newContext;
    decltype(&smbc_free_context) freeContext;
    decltype(&smbc_init_context) initContext;
    decltype(&smbc_setDebug) setDebug;
    decltype(&smbc_setTimeout) setTimeout;
    decltype(&smbc_setFunctionAuthDataWithContext) setAuthData;
    decltype(&smbc_getFunctionOpendir) opendir;
    decltype(&smbc_getFunctionReaddir) readdir;
    decltype(&smbc_getFunctionClosedir) closedir;
};

// The library with every function found, or nullptr where it cannot be
// loaded (then SMB browsing is not available). Loaded once per process.
const SmbLibrary* smbLibrary();

}  // namespace tavo::linuxwnet
