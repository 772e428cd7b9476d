#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <variant>

#include "platform/linux/wmi/each_with_deadline.h"
#include "platform/linux/wmi/gvdb.h"
#include "platform/linux/wmi/service_classes.h"
#include "platform/linux/wmi/system_view.h"
#include "support/cancellation.h"
#include "support/kernel_helper.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

// One home folder of this machine, read through the helper process: a home
// on a hung network or FUSE mount blocks even an open, in the kernel, for
// good. Every read has the account's time; once one misses it (or an
// earlier pass's read there still hangs), the account's other files are not
// tried. What is not a read of a file goes to the machine's own view.
class HomeView : public SystemView {
  public:
    HomeView(SystemContext local, std::string home, std::chrono::steady_clock::time_point until)
        : local_(std::move(local)),
          inner_(local_.system()),
          resource_("home " + local_.path(home).string()),
          until_(until) {}

    std::optional<std::string> readFile(std::string_view path, std::size_t limit) const override {
        return read(path, limit, false);
    }
    std::optional<std::string> readUserFile(std::string_view path,
                                            std::size_t limit) const override {
        return read(path, limit, true);
    }
    std::optional<std::vector<DirEntry>> list(std::string_view dir) const override {
        return inner_->list(dir);
    }
    std::optional<std::string> readLink(std::string_view path) const override {
        return inner_->readLink(path);
    }
    FileType type(std::string_view path, bool followLinks) const override {
        return inner_->type(path, followLinks);
    }
    std::optional<std::string> canonical(std::string_view path) const override {
        return inner_->canonical(path);
    }
    std::optional<Timestamp> modifiedTime(std::string_view path) const override {
        return inner_->modifiedTime(path);
    }
    std::optional<Timestamp> birthTime(std::string_view path) const override {
        return inner_->birthTime(path);
    }
    std::unique_ptr<DirHandle> openDirectory(std::string_view dir) const override {
        return inner_->openDirectory(dir);
    }
    std::int64_t now() const override { return inner_->now(); }
    int utcOffsetMinutes() const override { return inner_->utcOffsetMinutes(); }
    bool daylightSaving() const override { return inner_->daylightSaving(); }
    std::string dmtfLocal(std::int64_t seconds, long microseconds) const override {
        return inner_->dmtfLocal(seconds, microseconds);
    }
    long clockTicks() const override { return inner_->clockTicks(); }
    long pageSize() const override { return inner_->pageSize(); }
    std::optional<std::string> machine() const override { return inner_->machine(); }
    std::optional<std::string> hostName() const override { return inner_->hostName(); }
    bool isRunningMachine() const override { return inner_->isRunningMachine(); }

    // A read missed its time: what the account's files would have said is lost.
    bool gaveUp() const { return gaveUp_; }

  private:
    std::optional<std::string> read(std::string_view path, std::size_t limit, bool noFollow) const {
        if (gaveUp_) return std::nullopt;
        kernelhelper::Outcome o{};
        auto r = kernelhelper::readRegular(local_.path(path).string(), limit, noFollow, resource_,
                                           until_, &o);
        if (o == kernelhelper::Outcome::Missed || o == kernelhelper::Outcome::Busy) gaveUp_ = true;
        return r;
    }

    SystemContext local_;
    std::shared_ptr<const SystemView> inner_;
    std::string resource_;
    std::chrono::steady_clock::time_point until_;
    mutable bool gaveUp_ = false;
};

struct Settings {
    std::optional<std::string> wallpaper;
    std::optional<bool> stretched, tiled;
    std::optional<bool> saverActive, saverSecure;
    std::optional<std::int64_t> saverTimeout;  // seconds
    std::optional<std::string> saverExecutable;
};

std::optional<std::int64_t> toInt(const std::string& s) {
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end != '\0' || v < 0 || v > 100000000) return std::nullopt;
    return v;
}

// A count of `unit`-second steps as the class's seconds, or nothing when it
// does not fit (a hostile file may hold any number).
std::optional<std::int64_t> timeoutSeconds(std::int64_t count, std::int64_t unit) {
    constexpr std::int64_t kMost = 0xFFFFFFFF;  // the property is 32 bits wide
    if (count < 0 || unit <= 0 || count > kMost / unit) return std::nullopt;
    return count * unit;
}

std::optional<bool> toBool(std::string_view v) {
    const std::string s = text::toLower(v);
    if (s == "true" || s == "yes" || s == "1" || s == "on") return true;
    if (s == "false" || s == "no" || s == "0" || s == "off") return false;
    return std::nullopt;
}

std::string withoutFileScheme(std::string uri) {
    if (uri.starts_with("file://")) uri.erase(0, 7);
    return uri;
}

// Key/value pairs of one group of an INI-style file (KDE's configuration).
// `group` is the whole header line's text between its outer brackets.
std::optional<std::string> iniValue(std::string_view text, std::string_view groupSuffix,
                                    std::string_view key) {
    std::istringstream in{std::string(text)};
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        line = text::trim(line);
        if (line.starts_with("[")) {
            inGroup = line.ends_with(groupSuffix);
            continue;
        }
        if (!inGroup) continue;
        const auto eq = line.find('=');
        if (eq != std::string::npos && text::trim(std::string_view(line).substr(0, eq)) == key) {
            return std::string(text::trim(std::string_view(line).substr(eq + 1)));
        }
    }
    return std::nullopt;
}

void readKde(const SystemContext& ctx, const std::string& home, Settings& s) {
    if (auto t = ctx.readUserFile(home + "/.config/plasma-org.kde.plasma.desktop-appletsrc")) {
        if (auto img = iniValue(*t, "[Wallpaper][org.kde.image][General]", "Image")) {
            if (!s.wallpaper) s.wallpaper = withoutFileScheme(*img);
        }
    }
    if (auto t = ctx.readUserFile(home + "/.config/kscreensaverrc")) {
        if (auto v = iniValue(*t, "[Daemon]", "Autolock")) {
            if (!s.saverActive) s.saverActive = toBool(*v);
        }
        if (auto v = iniValue(*t, "[Daemon]", "Timeout")) {
            // Minutes in KDE's file.
            if (auto m = toInt(*v); m && !s.saverTimeout) s.saverTimeout = timeoutSeconds(*m, 60);
        }
    }
}

// The first property of a channel whose path ends with `leaf` (xfdesktop keeps
// one per monitor and workspace: /backdrop/screen0/monitor0/workspace0/last-image).
std::optional<std::string> xfconfFirst(std::string_view xml, std::string_view leaf) {
    const std::string key = "name=\"" + std::string(leaf) + "\"";
    const auto at = xml.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    const auto v = xml.find("value=\"", at);
    const auto tagEnd = xml.find('>', at);
    if (v == std::string_view::npos || v > tagEnd) return std::nullopt;
    const auto end = xml.find('"', v + 7);
    if (end == std::string_view::npos) return std::nullopt;
    return std::string(xml.substr(v + 7, end - v - 7));
}

void readXfce(const SystemContext& ctx, const std::string& home, Settings& s) {
    const std::string dir = home + "/.config/xfce4/xfconf/xfce-perchannel-xml/";
    if (auto t = ctx.readUserFile(dir + "xfce4-desktop.xml")) {
        if (auto img = xfconfFirst(*t, "last-image"); img && !s.wallpaper) {
            s.wallpaper = *img;
            // image-style: 1 centred, 2 tiled, 3 stretched, 4 scaled, 5 zoomed.
            if (auto style = xfconfFirst(*t, "image-style")) {
                if (auto n = toInt(*style)) {
                    s.tiled = *n == 2;
                    s.stretched = *n == 3 || *n == 4 || *n == 5;
                }
            }
        }
    }
    if (auto t = ctx.readUserFile(dir + "xfce4-screensaver.xml")) {
        if (auto v = xfconfValue(*t, "/saver/enabled"); v && !s.saverActive) {
            s.saverActive = toBool(*v);
        }
        if (auto v = xfconfValue(*t, "/saver/idle-activation/delay"); v && !s.saverTimeout) {
            if (auto m = toInt(*v)) s.saverTimeout = timeoutSeconds(*m, 60);  // minutes
        }
        if (auto v = xfconfValue(*t, "/lock/enabled"); v && !s.saverSecure) {
            s.saverSecure = toBool(*v);
        }
    }
}

void readXscreensaver(const SystemContext& ctx, const std::string& home, Settings& s) {
    auto t = ctx.readUserFile(home + "/.xscreensaver");
    if (!t) return;
    std::istringstream in(*t);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || line.starts_with("#")) continue;
        const std::string key(text::trim(std::string_view(line).substr(0, colon)));
        const std::string value(text::trim(std::string_view(line).substr(colon + 1)));
        if (key == "mode" && !s.saverActive) {
            s.saverActive = value != "off";
        } else if (key == "timeout" && !s.saverTimeout) {
            s.saverTimeout = xscreensaverTimeout(value);
        } else if (key == "lock" && !s.saverSecure) {
            s.saverSecure = toBool(value);
        }
    }
    if (!s.saverExecutable && s.saverActive.value_or(false)) s.saverExecutable = "xscreensaver";
}

// ~/.fehbg is the script feh writes to restore the wallpaper it last set:
// feh --no-fehbg --bg-scale '/path/to/image.jpg'
void readFeh(const SystemContext& ctx, const std::string& home, Settings& s) {
    if (s.wallpaper) return;
    auto t = ctx.readUserFile(home + "/.fehbg");
    if (!t) return;
    const auto mode = t->find("--bg-");
    const auto q1 = t->find('\'', mode == std::string::npos ? 0 : mode);
    if (mode == std::string::npos || q1 == std::string::npos) return;
    const auto q2 = t->find('\'', q1 + 1);
    if (q2 == std::string::npos) return;
    s.wallpaper = t->substr(q1 + 1, q2 - q1 - 1);
    const std::string how = t->substr(mode + 5, t->find_first_of(" \t", mode) - mode - 5);
    s.tiled = how == "tile";
    s.stretched = how == "scale" || how == "fill" || how == "max";
}

// A file:// URI as a path ("%20" back to a blank); any other URI as it is.
std::string pathOfUri(const std::string& uri) {
    if (!uri.starts_with("file://")) return uri;
    std::string path;
    for (std::size_t i = 7; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
            path += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += uri[i];
        }
    }
    return path;
}

// GNOME, Cinnamon and MATE keep their settings in dconf. What a user changed
// is in ~/.config/dconf/user; a key still at its default is absent there, and
// then the setting stays unknown rather than guessed.
void readDconf(const SystemContext& ctx, const std::string& home, Settings& s) {
    const auto file = ctx.readUserFile(home + "/.config/dconf/user");
    if (!file) return;
    const auto db = readGvdb(*file);
    // A value of the expected kind, or nothing (absent, or of another kind).
    auto value = [&]<typename T>(const std::string& key) -> std::optional<T> {
        const auto it = db.find(key);
        if (it == db.end() || !std::holds_alternative<T>(it->second)) return std::nullopt;
        return std::get<T>(it->second);
    };
    auto text = [&](const std::string& key) { return value.operator()<std::string>(key); };
    auto flag = [&](const std::string& key) { return value.operator()<bool>(key); };
    auto number = [&](const std::string& key) { return value.operator()<std::int64_t>(key); };

    struct Desktop {
        const char* background;  // its picture-options key sits beside the picture
        const char* picture;
        const char* screensaver;
        const char* idleDelay;
        int idleDelayUnit;  // seconds per unit
    };
    static constexpr Desktop kDesktops[] = {
        {"/org/gnome/desktop/background/", "picture-uri", "/org/gnome/desktop/screensaver/",
         "/org/gnome/desktop/session/idle-delay", 1},
        {"/org/cinnamon/desktop/background/", "picture-uri", "/org/cinnamon/desktop/screensaver/",
         "/org/cinnamon/desktop/session/idle-delay", 1},
        {"/org/mate/desktop/background/", "picture-filename", "/org/mate/screensaver/",
         "/org/mate/desktop/session/idle-delay", 60},
    };
    for (const Desktop& d : kDesktops) {
        const std::string background = d.background;
        if (auto picture = text(background + d.picture); picture && !s.wallpaper) {
            s.wallpaper = pathOfUri(*picture);
            // wallpaper is tiling; scaled, stretched, zoom and spanned fill the screen.
            if (auto how = text(background + "picture-options")) {
                s.tiled = *how == "wallpaper";
                s.stretched =
                    *how == "scaled" || *how == "stretched" || *how == "zoom" || *how == "spanned";
            }
        }
        const std::string saver = d.screensaver;
        if (auto on = flag(saver + "idle-activation-enabled"); on && !s.saverActive) {
            s.saverActive = *on;
        }
        if (auto lock = flag(saver + "lock-enabled"); lock && !s.saverSecure) s.saverSecure = *lock;
        if (auto delay = number(d.idleDelay); delay && *delay >= 0 && !s.saverTimeout) {
            s.saverTimeout = timeoutSeconds(*delay, d.idleDelayUnit);
        }
    }
}

bool isLoginShell(const std::string& shell) {
    if (shell.empty()) return false;
    const std::string base = shell.substr(shell.rfind('/') + 1);
    return base != "nologin" && base != "false" && base != "sync" && base != "halt" &&
           base != "shutdown";
}

}  // namespace

// xfconf's channel files nest <property name=".."> elements; each value is
// addressed by the path of names, as xfconf-query shows it ("/saver/enabled").
// The path is kept as one string that grows and shrinks with the nesting, so
// deep nesting costs no more than its length.
std::optional<std::string> xfconfValue(std::string_view xml, std::string_view wanted) {
    std::string path;
    std::vector<std::size_t> lengths;  // the path's length before each open element
    std::size_t pos = 0;
    auto attr = [](std::string_view tag, std::string_view name) -> std::optional<std::string_view> {
        const auto at = tag.find(name);
        for (auto from = at; from != std::string_view::npos; from = tag.find(name, from + 1)) {
            const auto start = from + name.size();
            if (from == 0 || tag[from - 1] != ' ' || tag.substr(start, 2) != "=\"") continue;
            const auto end = tag.find('"', start + 2);
            if (end == std::string_view::npos) return std::nullopt;
            return tag.substr(start + 2, end - start - 2);
        }
        return std::nullopt;
    };
    while ((pos = xml.find('<', pos)) != std::string_view::npos) {
        const auto close = xml.find('>', pos);
        if (close == std::string_view::npos) break;
        const std::string_view tag = xml.substr(pos, close - pos + 1);
        pos = close + 1;
        if (tag.starts_with("</property")) {
            if (!lengths.empty()) {
                path.resize(lengths.back());
                lengths.pop_back();
            }
            continue;
        }
        if (!tag.starts_with("<property ")) continue;
        const auto name = attr(tag, "name");
        if (!name) continue;
        const std::size_t before = path.size();
        path += '/';
        path += *name;
        if (path == wanted) {
            if (auto v = attr(tag, "value")) return std::string(*v);
        }
        if (tag.ends_with("/>")) {
            path.resize(before);
        } else {
            lengths.push_back(before);
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> xscreensaverTimeout(std::string_view value) {
    // "H:MM:SS"; each part is read as a wide number and the sum is checked,
    // so no value in the file can overflow the arithmetic.
    std::int64_t parts[3] = {};
    for (int i = 0; i < 3; ++i) {
        const auto end = i < 2 ? value.find(':') : value.size();
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view digits = value.substr(0, end);
        if (digits.empty() || digits.size() > 10 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
        for (char c : digits) parts[i] = parts[i] * 10 + (c - '0');
        value.remove_prefix(i < 2 ? end + 1 : end);
    }
    const auto h = timeoutSeconds(parts[0], 3600);
    const auto m = timeoutSeconds(parts[1], 60);
    if (!h || !m) return std::nullopt;
    return timeoutSeconds(*h + *m + parts[2], 1);
}

std::vector<Instance> produceDesktops(const SystemContext& ctx) {
    std::vector<Instance> out;
    auto passwd = ctx.readFile("/etc/passwd");
    if (!passwd) return out;
    const std::string computer = ctx.computerName();
    std::istringstream in(*passwd);
    std::string line;
    std::vector<std::pair<std::string, std::string>> users;  // name, home
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::size_t start = 0;
        for (std::size_t p; (p = line.find(':', start)) != std::string::npos; start = p + 1) {
            f.push_back(line.substr(start, p - start));
        }
        f.push_back(line.substr(start));
        if (f.size() != 7 || f[0].empty() || f[0][0] == '+' || f[0][0] == '-') continue;
        const std::string& user = f[0];
        const std::string& home = f[5];
        if (home.empty() || home[0] != '/' || !isLoginShell(f[6])) continue;

        users.push_back({user, home});
    }

    // A home folder may sit on a hung network mount, where even an open
    // blocks for good: each account's files are read with their own time,
    // and an account that misses it is shown without its settings.
    auto readHome = [](const SystemContext& c, const std::string& home) {
        Settings s;
        if (home != "/") {
            readDconf(c, home, s);
            readKde(c, home, s);
            readXfce(c, home, s);
            readXscreensaver(c, home, s);
            readFeh(c, home, s);
        }
        return s;
    };
    const auto each = std::max(ctx.deadline / 8, std::chrono::milliseconds(50));
    const auto until = std::chrono::steady_clock::now() + ctx.deadline;
    std::vector<std::optional<Settings>> settings(users.size());
    if (ctx.view) {
        // Another computer's files are already here in its snapshot.
        settings = readEachWithDeadline<Settings>(
            users.size(),
            [ctx, users, readHome](std::size_t i) { return readHome(ctx, users[i].second); }, each,
            until);
    } else {
        for (std::size_t i = 0; i < users.size(); ++i) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= until || cycle::currentStopToken().stop_requested()) break;
            SystemContext home = ctx;
            auto view =
                std::make_shared<HomeView>(ctx, users[i].second, std::min(until, now + each));
            home.view = view;
            settings[i] = readHome(home, users[i].second);
            if (view->gaveUp())
                ctx.lose(LostValues::Why::TimedOut, "the desktop settings in " + users[i].second);
        }
    }

    for (std::size_t i = 0; i < users.size(); ++i) {
        if (!settings[i])
            ctx.lose(LostValues::Why::TimedOut, "the desktop settings in " + users[i].second);
        const Settings s = settings[i].value_or(Settings{});
        Instance d("Win32_Desktop");
        d.set("Name", computer + "\\" + users[i].first);
        if (s.wallpaper) d.set("Wallpaper", *s.wallpaper);
        if (s.stretched) d.set("WallpaperStretched", *s.stretched);
        if (s.tiled) d.set("WallpaperTiled", *s.tiled);
        if (s.saverActive) d.set("ScreenSaverActive", *s.saverActive);
        if (s.saverSecure) d.set("ScreenSaverSecure", *s.saverSecure);
        if (s.saverTimeout) d.setInt("ScreenSaverTimeout", *s.saverTimeout);
        if (s.saverExecutable) d.set("ScreenSaverExecutable", *s.saverExecutable);
        out.push_back(std::move(d));
    }
    return out;
}

}  // namespace tavo::linuxwmi
