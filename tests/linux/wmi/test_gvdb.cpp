#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/linux/wmi/gvdb.h"

namespace tavo::linuxwmi {
namespace {

// A user database written by `dconf compile` from
// tests/data/services/dconf-keyfiles/dave.
std::string daveDatabase() {
    std::ifstream in(
        std::filesystem::path(TAVO_TEST_DATA) / "services/desktop/home/dave/.config/dconf/user",
        std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::uint32_t word(const std::string& f, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(f[at + i]);
    return v;
}

TEST(Gvdb, ReadsEveryScalarByItsFullKey) {
    const auto db = readGvdb(daveDatabase());
    const std::map<std::string, GvdbValue> expected{
        {"/org/gnome/desktop/background/picture-uri",
         std::string("file:///home/dave/Pictures/Lake%20at%20dawn.jpg")},
        {"/org/gnome/desktop/background/picture-options", std::string("zoom")},
        {"/org/gnome/desktop/background/color-shading-type", std::string("solid")},
        {"/org/gnome/desktop/screensaver/lock-enabled", false},
        {"/org/gnome/desktop/screensaver/idle-activation-enabled", true},
        {"/org/gnome/desktop/session/idle-delay", std::int64_t{300}},
        {"/org/gnome/desktop/interface/clock-show-seconds", true},
    };
    EXPECT_EQ(db, expected);
}

TEST(Gvdb, ForeignEmptyOrSwappedFilesGiveNothing) {
    EXPECT_TRUE(readGvdb("").empty());
    EXPECT_TRUE(readGvdb("[org/gnome/desktop/background]\npicture-uri='x'\n").empty());
    std::string swapped = daveDatabase();
    std::swap(swapped[0], swapped[3]);
    std::swap(swapped[1], swapped[2]);
    EXPECT_TRUE(readGvdb(swapped).empty());
}

TEST(Gvdb, DamagedFilesAreReadOnlyAsFarAsTheyHold) {
    const std::string whole = daveDatabase();
    const auto all = readGvdb(whole);
    ASSERT_FALSE(all.empty());
    // A cut-off file never yields a value the whole file does not hold.
    for (std::size_t n = 0; n < whole.size(); ++n) {
        for (const auto& [key, value] : readGvdb(whole.substr(0, n))) {
            ASSERT_TRUE(all.contains(key)) << "cut at " << n << ": " << key;
            EXPECT_EQ(all.at(key), value) << "cut at " << n;
        }
    }
    // Random damage must stay inside the buffer (the sanitizer build watches).
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string damaged = whole;
        for (int k = 0; k < 4; ++k) {
            damaged[random() % damaged.size()] = static_cast<char>(random() & 0xFF);
        }
        (void)readGvdb(damaged);
    }
}

TEST(Gvdb, ParentLoopsEndWithoutAKey) {
    std::string f = daveDatabase();
    const std::uint32_t table = word(f, 16);
    const std::uint32_t bloom = word(f, table) & ((1u << 27) - 1);
    const std::uint32_t buckets = word(f, table + 4);
    const std::size_t itemsAt = table + 8 + 4 * bloom + 4 * buckets;
    const std::size_t count = (word(f, 20) - itemsAt) / 24;
    ASSERT_GT(count, 0u);
    // Every item its own parent: each key's chain is a loop.
    for (std::size_t i = 0; i < count; ++i) {
        for (int b = 0; b < 4; ++b)
            f[itemsAt + i * 24 + 4 + b] = static_cast<char>((i >> (8 * b)) & 0xFF);
    }
    EXPECT_TRUE(readGvdb(f).empty());
}

}  // namespace
}  // namespace tavo::linuxwmi
