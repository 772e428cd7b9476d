#include "platform/linux/wmi/gvdb.h"

#include <optional>
#include <vector>

namespace tavo::linuxwmi {

namespace {

// "GVariant" read as two little-endian words; a big-endian writer's file has
// them swapped, and dconf only writes in the machine's own order.
constexpr std::uint32_t kSignature0 = 1918981703;
constexpr std::uint32_t kSignature1 = 1953390953;
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kItemSize = 24;
constexpr std::uint32_t kNoParent = 0xFFFFFFFF;
// dconf keys are paths of a few dozen characters; nothing a desktop writes
// comes near this.
constexpr std::size_t kLongestKey = 1024;

std::optional<std::uint32_t> u32(std::string_view f, std::size_t at) {
    if (at > f.size() || f.size() - at < 4) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(f[at + i]);
    return v;
}

std::optional<std::string_view> slice(std::string_view f, std::uint64_t start, std::uint64_t end) {
    if (start > end || end > f.size()) return std::nullopt;
    return f.substr(start, end - start);
}

struct Item {
    std::uint32_t parent;
    std::string_view key;
    char type;
    std::uint32_t valueStart, valueEnd;
};

// A serialised variant ("v"): the value's bytes, a zero byte, the type text.
std::optional<GvdbValue> decodeVariant(std::string_view data) {
    const auto nul = data.rfind('\0');
    if (nul == std::string_view::npos) return std::nullopt;
    const std::string_view type = data.substr(nul + 1);
    const std::string_view body = data.substr(0, nul);
    auto little = [&](std::size_t n) {
        std::uint64_t v = 0;
        for (std::size_t i = n; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(body[i]);
        return v;
    };
    if (type == "s") {
        // Strings carry their own terminating zero and no other.
        if (body.empty() || body.back() != '\0') return std::nullopt;
        const std::string_view text = body.substr(0, body.size() - 1);
        if (text.find('\0') != std::string_view::npos) return std::nullopt;
        return GvdbValue{std::string(text)};
    }
    if (type == "b" && body.size() == 1) return GvdbValue{body[0] != 0};
    if (type == "y" && body.size() == 1) return GvdbValue{std::int64_t(little(1))};
    if (type == "n" && body.size() == 2) return GvdbValue{std::int64_t(std::int16_t(little(2)))};
    if (type == "q" && body.size() == 2) return GvdbValue{std::int64_t(little(2))};
    if (type == "i" && body.size() == 4) return GvdbValue{std::int64_t(std::int32_t(little(4)))};
    if (type == "u" && body.size() == 4) return GvdbValue{std::int64_t(little(4))};
    if (type == "x" && body.size() == 8) return GvdbValue{std::int64_t(little(8))};
    return std::nullopt;
}

}  // namespace

std::map<std::string, GvdbValue> readGvdb(std::string_view f) {
    std::map<std::string, GvdbValue> out;
    if (f.size() < kHeaderSize || u32(f, 0) != kSignature0 || u32(f, 4) != kSignature1) return out;
    const auto rootStart = u32(f, 16);
    const auto rootEnd = u32(f, 20);
    if (!rootStart || !rootEnd || *rootStart % 4 != 0) return out;
    const auto table = slice(f, *rootStart, *rootEnd);
    if (!table || table->size() < 8) return out;

    // The hash table: its header, the bloom filter, the buckets, then the
    // items. Items name their parent, so every key is found by a plain walk;
    // the bloom filter and buckets only speed up single look-ups.
    const std::uint64_t bloomWords = *u32(*table, 0) & ((1u << 27) - 1);
    const std::uint64_t buckets = *u32(*table, 4);
    const std::uint64_t itemsAt = 8 + 4 * bloomWords + 4 * buckets;
    if (itemsAt > table->size()) return out;
    const std::size_t count = (table->size() - itemsAt) / kItemSize;

    std::vector<Item> items;
    items.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = itemsAt + i * kItemSize;
        const std::uint32_t parent = *u32(*table, at + 4);
        const std::uint32_t keyStart = *u32(*table, at + 8);
        const std::uint32_t keySize = *u32(*table, at + 12) & 0xFFFF;
        const char type = (*table)[at + 14];
        const auto key = slice(f, keyStart, std::uint64_t(keyStart) + keySize);
        if (!key || (parent != kNoParent && parent >= count)) {
            items.push_back({kNoParent, {}, '\0', 0, 0});  // unusable: never read
            continue;
        }
        items.push_back({parent, *key, type, *u32(*table, at + 16), *u32(*table, at + 20)});
    }

    // The full key is the parents' keys followed by the item's own. Each
    // item's full key is made once and reused by its children, so a deep
    // chain costs its length and not its length squared; a key longer than
    // any setting's path, or a chain that comes back on itself, is dropped.
    enum class Walk : unsigned char { notYet, inProgress, done, broken };
    std::vector<Walk> walk(items.size(), Walk::notYet);
    std::vector<std::string> full(items.size());
    std::vector<std::uint32_t> chain;
    auto resolve = [&](std::uint32_t first) {
        // Climb to the first ancestor already known, then come back down.
        for (std::uint32_t at = first;;) {
            if (walk[at] == Walk::done || walk[at] == Walk::broken) break;
            if (walk[at] == Walk::inProgress || items[at].type == '\0') {
                walk[at] = Walk::broken;  // a loop, or an unusable item
                break;
            }
            walk[at] = Walk::inProgress;
            chain.push_back(at);
            if (items[at].parent == kNoParent) break;
            at = items[at].parent;
        }
        while (!chain.empty()) {
            const std::uint32_t at = chain.back();
            chain.pop_back();
            const std::uint32_t up = items[at].parent;
            if (up != kNoParent && walk[up] != Walk::done) {
                walk[at] = Walk::broken;
                continue;
            }
            const std::size_t length =
                (up == kNoParent ? 0 : full[up].size()) + items[at].key.size();
            if (length > kLongestKey) {
                walk[at] = Walk::broken;
                continue;
            }
            if (up != kNoParent) full[at] = full[up];
            full[at] += items[at].key;
            walk[at] = Walk::done;
        }
    };

    for (std::uint32_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        if (item.type != 'v') continue;
        resolve(i);
        if (walk[i] != Walk::done) continue;
        const auto data = slice(f, item.valueStart, item.valueEnd);
        if (!data) continue;
        if (auto value = decodeVariant(*data)) out.emplace(full[i], std::move(*value));
    }
    return out;
}

}  // namespace tavo::linuxwmi
