#include "platform/windows/com_text.h"

#include <cstdio>

namespace tavo::winwmi {

std::string toUtf8(const wchar_t* text, int length) {
    if (!text) return {};
    if (length < 0) length = static_cast<int>(wcslen(text));
    if (length == 0) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring toWide(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

namespace {
// WMI's codes with the texts its own tools print; the system message table
// does not hold them.
struct Known {
    std::uint32_t code;
    const char* text;
};
constexpr Known kWmiTexts[] = {
    {0x80041001, "Generic failure"},
    {0x80041002, "Not found"},
    {0x80041003, "Access denied"},
    {0x80041004, "Provider failure"},
    {0x80041005, "Type mismatch"},
    {0x80041006, "Out of memory"},
    {0x80041008, "Invalid parameter"},
    {0x8004100A, "Critical error"},
    {0x8004100C, "Not supported"},
    {0x8004100E, "Invalid namespace"},
    {0x80041010, "Invalid class"},
    {0x80041011, "Provider not found"},
    {0x80041013, "Provider load failure"},
    {0x80041015, "Not available"},
    {0x80041017, "Invalid query"},
    {0x80041018, "Invalid query type"},
    {0x80041032, "Call cancelled"},
    {0x80041045, "Illegal operation"},
    {0x80041064, "User credentials cannot be used for local connections"},
    {0x80041069, "Timed out"},
    {0x80043001, "Timed out"},
};

std::string systemText(HRESULT hr) {
    char* buffer = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (n && buffer) {
        text.assign(buffer, n);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                                 text.back() == '.')) {
            text.pop_back();
        }
    }
    if (buffer) LocalFree(buffer);
    return text;
}
}  // namespace

std::string describeHResult(HRESULT hr) {
    const auto code = static_cast<std::uint32_t>(hr);
    for (const auto& k : kWmiTexts) {
        if (k.code == code) return k.text;
    }
    std::string text = systemText(hr);
    if (!text.empty()) return text;
    char buf[48];
    std::snprintf(buf, sizeof buf, "Unknown error 0x%08X", static_cast<unsigned>(code));
    return buf;
}

void throwHResult(HRESULT hr, const std::string& what) {
    throw Error(static_cast<std::uint32_t>(hr), what + ": " + describeHResult(hr));
}

}  // namespace tavo::winwmi
