#include "platform/linux/wmi/remote_frames.h"

#include <algorithm>
#include <functional>
#include <string>

namespace tavo::linuxwmi::remote_view {

std::vector<Frame> readFrames(std::string_view output, std::string_view boundary) {
    std::vector<Frame> frames;
    if (boundary.empty()) return frames;
    const std::string mark = "\n" + std::string(boundary) + " ";
    // One searcher for the whole output: a long body is passed over once.
    const std::boyer_moore_horspool_searcher search(mark.begin(), mark.end());
    auto next = [&](std::size_t from) -> std::size_t {
        const auto it =
            std::search(output.begin() + static_cast<std::ptrdiff_t>(from), output.end(), search);
        return it == output.end() ? std::string_view::npos
                                  : static_cast<std::size_t>(it - output.begin());
    };
    std::size_t at = next(0);
    while (at != std::string_view::npos) {
        const std::size_t headerStart = at + mark.size();
        const std::size_t following = next(headerStart);
        const std::size_t end = following == std::string_view::npos ? output.size() : following;
        const std::size_t nl = output.find('\n', headerStart);
        const std::size_t headerEnd = nl == std::string_view::npos || nl > end ? end : nl;
        const std::string_view header = output.substr(headerStart, headerEnd - headerStart);
        Frame f;
        const auto space = header.find(' ');
        f.tag = header.substr(0, space);
        if (space != std::string_view::npos) f.arg = header.substr(space + 1);
        if (headerEnd < end) f.body = output.substr(headerEnd + 1, end - headerEnd - 1);
        frames.push_back(f);
        at = following;
    }
    return frames;
}

}  // namespace tavo::linuxwmi::remote_view
