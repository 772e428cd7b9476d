#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <tuple>

#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/fs_probe.h"
#include "platform/linux/wmi/mount_info.h"

namespace tavo::linuxwmi {

namespace {

namespace fs = std::filesystem;

enum DriveType { kRemovable = 2, kLocal = 3, kNetwork = 4, kOptical = 5, kRam = 6 };

bool isNetworkFs(std::string_view type) {
    static const std::set<std::string_view> kNet = {
        "nfs",   "nfs4", "cifs", "smb3", "smbfs",     "fuse.sshfs",
        "sshfs", "9p",   "afs",  "ceph", "glusterfs", "fuse.glusterfs"};
    return kNet.count(type) != 0;
}

bool isUnder(std::string_view path, std::string_view dir) {
    return path == dir || (path.size() > dir.size() && path.substr(0, dir.size()) == dir &&
                           path[dir.size()] == '/');
}

bool inSystemPlace(std::string_view mountPoint) {
    for (std::string_view d : {"/dev", "/run", "/sys", "/proc"}) {
        if (isUnder(mountPoint, d)) return true;
    }
    return false;
}

// Filesystem types the kernel marks "nodev": they need no block device.
std::set<std::string> nodevTypes(const SystemContext& ctx, bool& known) {
    std::set<std::string> out;
    auto text = ctx.readFile("/proc/filesystems");
    known = text.has_value();
    if (!text) return out;
    std::string_view t = *text;
    while (!t.empty()) {
        const auto nl = t.find('\n');
        std::string_view line = t.substr(0, nl);
        t.remove_prefix(nl == std::string_view::npos ? t.size() : nl + 1);
        if (line.substr(0, 5) == "nodev") {
            line.remove_prefix(5);
            while (!line.empty() && (line.front() == '\t' || line.front() == ' '))
                line.remove_prefix(1);
            out.emplace(line);
        }
    }
    return out;
}

// udev names links with \xNN escapes ("My\x20Disk").
std::string unescapeUdev(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Kernel device name ("sda1", "dm-0") -> the link name in /dev/disk/<dir>.
std::map<std::string, std::string> diskLinks(const SystemContext& ctx, std::string_view dir) {
    std::map<std::string, std::string> out;
    const std::string base = "/dev/disk/" + std::string(dir) + "/";
    for (const std::string& name : ctx.names(base)) {
        const auto target = ctx.readLink(base + name);
        if (!target) continue;
        out.emplace(fs::path(*target).filename().string(), unescapeUdev(name));
    }
    return out;
}

struct BlockInfo {
    std::string name;  // "sda1"
    bool removable = false;
};

// The kernel's name for a device number and whether its disk is removable,
// through /sys/dev/block/MAJ:MIN.
std::optional<BlockInfo> blockInfo(const SystemContext& ctx, unsigned major, unsigned minor) {
    const auto real =
        ctx.canonical("/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
    if (!real) return std::nullopt;
    const fs::path dev = *real;
    BlockInfo b;
    b.name = dev.filename().string();
    // A partition's "removable" flag lives on its disk, the parent folder.
    const fs::path disk = ctx.exists((dev / "partition").string()) ? dev.parent_path() : dev;
    const auto flag = ctx.readLine((disk / "removable").string());
    b.removable = flag && *flag == "1";
    return b;
}

}  // namespace

std::vector<Instance> produceLogicalDisks(const SystemContext& ctx) {
    std::vector<Instance> out;
    auto text = ctx.readFile("/proc/self/mountinfo");
    if (!text) return out;
    std::vector<MountEntry> mounts = parseMountInfo(*text);

    bool nodevKnown = false;
    const std::set<std::string> nodev = nodevTypes(ctx, nodevKnown);

    // A later mount on the same point hides the earlier one.
    std::map<std::string, std::size_t> lastAt;
    for (std::size_t i = 0; i < mounts.size(); ++i) lastAt[mounts[i].mountPoint] = i;

    struct Disk {
        const MountEntry* m;
        int driveType;
    };
    std::vector<Disk> disks;
    std::set<std::tuple<unsigned, unsigned, std::string>> seen;
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        const MountEntry& m = mounts[i];
        if (lastAt[m.mountPoint] != i) continue;
        int type = 0;
        const bool blockFs =
            nodevKnown ? nodev.count(m.fsType) == 0 : m.source.rfind("/dev/", 0) == 0;
        if (isNetworkFs(m.fsType)) {
            type = kNetwork;
        } else if (m.fsType == "tmpfs" || m.fsType == "ramfs") {
            if (inSystemPlace(m.mountPoint)) continue;
            type = kRam;
        } else if (m.fsType == "overlay") {
            if (m.mountPoint != "/") continue;
            type = kLocal;
        } else if (blockFs) {
            // Loop-mounted images (snaps and the like) are not disks a user means.
            if (m.fsType == "squashfs" && (m.major == 7 || m.source.rfind("/dev/loop", 0) == 0))
                continue;
            type = (m.fsType == "iso9660" || m.fsType == "udf") ? kOptical : kLocal;
        } else {
            continue;
        }
        // A single file bound over another (containers get /etc/resolv.conf
        // and /etc/hosts so) is not a file system. Only a bind of part of a
        // local file system can be one, so only those mount points are looked at.
        if (type != kNetwork && m.root != "/") {
            const FileType t = ctx.type(m.mountPoint, false);
            if (t == FileType::Regular || t == FileType::Symlink || t == FileType::Other) continue;
        }
        // Bind mounts: same device and same root seen again.
        if (type != kNetwork && !seen.emplace(m.major, m.minor, m.root).second) continue;
        if (type == kNetwork && !seen.emplace(0, 0, m.source + "\n" + m.root).second) continue;
        disks.push_back({&m, type});
    }

    std::vector<std::string> points;
    for (const Disk& d : disks) points.push_back(d.m->mountPoint);
    const auto stats = statAll(ctx.fs, points, ctx.deadline, ctx.lost.get());

    const auto labels = diskLinks(ctx, "by-label");
    const auto uuids = diskLinks(ctx, "by-uuid");
    const std::string computer = ctx.computerName();

    for (std::size_t i = 0; i < disks.size(); ++i) {
        const MountEntry& m = *disks[i].m;
        int type = disks[i].driveType;
        std::optional<BlockInfo> block;
        if (type == kLocal || type == kOptical) block = blockInfo(ctx, m.major, m.minor);
        if (type == kLocal && block) {
            if (block->name.rfind("sr", 0) == 0) {
                type = kOptical;
            } else if (block->removable) {
                type = kRemovable;
            }
        }
        Instance d("Win32_LogicalDisk");
        d.set("DeviceID", m.mountPoint);
        d.set("Name", m.mountPoint);
        d.set("Caption", m.mountPoint);
        d.setInt("DriveType", type);
        static const std::map<int, const char*> kDescriptions = {{kRemovable, "Removable Disk"},
                                                                 {kLocal, "Local Fixed Disk"},
                                                                 {kNetwork, "Network Connection"},
                                                                 {kOptical, "CD-ROM Disc"},
                                                                 {kRam, "RAM Disk"}};
        d.set("Description", kDescriptions.at(type));
        if (type == kLocal) d.setInt("MediaType", 12);      // fixed hard disk media
        if (type == kRemovable) d.setInt("MediaType", 11);  // removable media other than floppy
        d.set("FileSystem", m.fsType);
        d.set("CreationClassName", "Win32_LogicalDisk");
        d.set("SystemCreationClassName", "Win32_ComputerSystem");
        d.set("SystemName", computer);
        // Read-only mounts are readable (1); others read and write (3).
        const bool ro = hasOption(m.options, "ro") || hasOption(m.superOptions, "ro");
        d.setInt("Access", ro ? 1 : 3);
        if (type == kNetwork) d.set("ProviderName", m.source);
        if (block) {
            if (auto it = labels.find(block->name); it != labels.end())
                d.set("VolumeName", it->second);
            if (auto it = uuids.find(block->name); it != uuids.end())
                d.set("VolumeSerialNumber", it->second);
        }
        if (const auto& s = stats[i]) {
            d.setUInt64("Size", s->blocks * s->fragmentSize);
            d.setUInt64("FreeSpace", s->blocksAvailable * s->fragmentSize);
            d.setUInt64("BlockSize", s->fragmentSize);
            d.setUInt64("NumberOfBlocks", s->blocks);
            if (s->maxNameLength <= 0xffffffffULL)
                d.setInt("MaximumComponentLength", static_cast<std::int64_t>(s->maxNameLength));
        }
        out.push_back(std::move(d));
    }
    return out;
}

}  // namespace tavo::linuxwmi
