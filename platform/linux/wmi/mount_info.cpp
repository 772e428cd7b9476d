#include "platform/linux/wmi/mount_info.h"
#include "support/text.h"

#include <charconv>

namespace tavo::linuxwmi {

std::string unescapeOctal(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
            s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out +=
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool hasOption(std::string_view options, std::string_view option) {
    while (!options.empty()) {
        const auto comma = options.find(',');
        if (options.substr(0, comma) == option) return true;
        if (comma == std::string_view::npos) break;
        options.remove_prefix(comma + 1);
    }
    return false;
}

namespace {
template <class T>
bool toNumber(std::string_view s, T& out) {
    const auto n = text::wholeNumber<T>(s);
    if (n) out = *n;
    return n.has_value();
}

std::vector<std::string_view> splitSpaces(std::string_view line) {
    std::vector<std::string_view> f;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) f.push_back(line.substr(start, i - start));
    }
    return f;
}
}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> out;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);

        const auto f = splitSpaces(line);
        // id parent maj:min root mountpoint options [optional...] - fstype source superoptions
        std::size_t sep = 6;
        while (sep < f.size() && f[sep] != "-") ++sep;
        if (f.size() < 6 || sep + 2 >= f.size()) continue;
        MountEntry e;
        const auto colon = f[2].find(':');
        if (colon == std::string_view::npos || !toNumber(f[0], e.id) ||
            !toNumber(f[1], e.parentId) || !toNumber(f[2].substr(0, colon), e.major) ||
            !toNumber(f[2].substr(colon + 1), e.minor)) {
            continue;
        }
        e.root = unescapeOctal(f[3]);
        e.mountPoint = unescapeOctal(f[4]);
        e.options = std::string(f[5]);
        e.fsType = unescapeOctal(f[sep + 1]);
        e.source = unescapeOctal(f[sep + 2]);
        if (sep + 3 < f.size()) e.superOptions = std::string(f[sep + 3]);
        out.push_back(std::move(e));
    }
    return out;
}

}  // namespace tavo::linuxwmi
