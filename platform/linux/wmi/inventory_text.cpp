#include "platform/linux/wmi/inventory_text.h"

#include "support/text.h"

namespace tavo::linuxwmi::inventory {

std::optional<std::string> readAttribute(const SystemContext& ctx, const std::string& path) {
    auto line = ctx.readLine(path);
    if (!line) return std::nullopt;
    const std::string_view t = text::trim(*line);
    if (t.empty()) return std::nullopt;
    return std::string(t);
}

std::optional<std::uint64_t> readUnsignedAttribute(const SystemContext& ctx,
                                                   const std::string& path) {
    auto text = readAttribute(ctx, path);
    return text ? text::parseUnsigned(*text) : std::nullopt;
}

std::optional<std::int64_t> readSignedAttribute(const SystemContext& ctx, const std::string& path) {
    auto text = readAttribute(ctx, path);
    return text ? text::parseSigned(*text) : std::nullopt;
}

std::vector<std::string> listDirectory(const SystemContext& ctx, std::string_view absolute) {
    return ctx.names(absolute);
}

}  // namespace tavo::linuxwmi::inventory
