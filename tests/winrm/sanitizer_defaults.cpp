// Sanitizer settings for the WinRM test programs. gss-ntlmssp 1.2 keeps the
// MD4 digest it fetches from OpenSSL each time a credential is made from a
// password: a leak of the library, not of ours. OpenSSL is built without
// frame pointers, so the library's frames only show with the slow unwinder,
// which these programs can afford (a few seconds more in all).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:gssntlmssp.so\n";
}
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
