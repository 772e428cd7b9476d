// libFuzzer target over the check that stands between a server's Negotiate
// token and gss-ntlmssp or MIT krb5: it must never read outside the token,
// and a CHALLENGE it passes must keep every field and AV pair inside it.
// Built and run by `make fuzz` (clang only).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/linux/winrm/server_tokens.h"

namespace {

unsigned le16(std::string_view s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "accepted a challenge that %s\n", why);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view token(reinterpret_cast<const char*>(data), size);
    (void)tavo::winrm::kerberosTokenProblem(token);
    if (tavo::winrm::ntlmChallengeProblem(token)) return 0;
    // Walked again here the simple way: what gss-ntlmssp will read.
    if (size < 48) fail("is shorter than its fixed part");
    const std::size_t length = le16(token, 40);
    const std::size_t offset = le16(token, 44) | static_cast<std::size_t>(le16(token, 46)) << 16;
    if (offset + length > size) fail("has its target information past its end");
    std::size_t at = offset;
    for (;;) {
        if (at + 4 > offset + length) fail("has AV pairs without MsvAvEOL");
        const unsigned id = le16(token, at);
        const std::size_t n = le16(token, at + 2);
        if (at + 4 + n > offset + length) fail("has an AV pair past its target information");
        if (id == 0) break;
        at += 4 + n;
    }
    return 0;
}
