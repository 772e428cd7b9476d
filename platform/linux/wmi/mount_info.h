#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavo::linuxwmi {

// One line of /proc/self/mountinfo, with the kernel's octal escapes
// (\040 for a space...) undone.
struct MountEntry {
    int id = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;  // the part of the filesystem seen at the mount point
    std::string mountPoint;
    std::string options;  // per-mount: "rw,relatime"
    std::string fsType;   // "ext4", "nfs4", "fuse.sshfs"
    std::string source;   // "/dev/sda1", "server:/export"
    std::string superOptions;
};

// Lines that do not parse are left out.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Undoes the \ooo escapes the kernel writes for space, tab, newline and backslash.
std::string unescapeOctal(std::string_view s);

// Whether a comma-separated option list holds `option` exactly.
bool hasOption(std::string_view options, std::string_view option);

}  // namespace tavo::linuxwmi
