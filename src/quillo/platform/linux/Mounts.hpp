#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillo/platform/linux/FileReader.hpp"
#include "quillo/platform/linux/FileSystem.hpp"

namespace quillo {

// The mounted file systems, from procfs self/mountinfo, and their space.

struct MountEntry {
    std::uint32_t major = 0, minor = 0;  // the device, as st_dev would give it
    std::string root;                    // the folder of the file system mounted here
    std::string mountPoint, fsType, source;
    std::string options;  // the mount's own options, then the file system's
};
// Every line with its ten fields or more; the octal escapes the kernel writes for
// spaces, tabs, newlines and backslashes in paths are undone.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Types df(1) never shows (autofs, proc, sysfs, devpts...) or never has blocks to show
// (cgroup, tracefs...), and "none" unless it is a bind mount.
bool isPseudoFileSystem(const MountEntry& mount);
// On another machine: a source host:path or //host/share, or a network file system's type.
bool isRemoteFileSystem(const MountEntry& mount);

// The mounts df lists, in mountinfo's order: no pseudo file system, none hidden by a
// later mount on the same folder, and one mount per
// device, chosen as df chooses (a source that is a path, then the mount nearest the
// device's root, then the mount that covers another on the same folder), though remote
// mounts of different sources on one device are kept apart.
std::vector<MountEntry> dfMounts(const std::vector<MountEntry>& all);

// For each of the listed mounts, whether statvfs on it answers from memory: the kernel's
// local disk and memory file systems (ext4, xfs, btrfs, tmpfs...), reached through such
// file systems only. Network and FUSE file systems, autofs, vfat (which may read its
// whole table to count free clusters) and any type not known here may wait on something.
std::vector<char> answersFromMemory(const std::vector<MountEntry>& listed,
                                    const std::vector<MountEntry>& all);

// statvfs off the caller's thread, each answer awaited at most a deadline: a dead
// network or FUSE mount never holds up a refresh. A path whose statvfs has not answered
// is stale and keeps the last space it had; no second statvfs is started on it until the
// first returns. Up to maximumWorkers threads measure side by side, started when first
// needed and kept; one that hangs stays hung (the kernel does not let it go) and holds up
// none of the others.
class SpaceProbe {
  public:
    struct Answer {
        std::optional<VolumeSpace> space;  // absent when statvfs failed or never answered
        bool stale = false;                // still waiting for statvfs
    };

    explicit SpaceProbe(std::chrono::milliseconds deadline = std::chrono::milliseconds(100));
    ~SpaceProbe();
    SpaceProbe(const SpaceProbe&) = delete;
    SpaceProbe& operator=(const SpaceProbe&) = delete;

    // A path marked direct is measured on the caller's thread, at once: handing it to a
    // worker costs more than statvfs answering from memory.
    std::vector<Answer> measure(const std::vector<std::string>& paths,
                                const std::vector<char>& direct = {});

    static constexpr int maximumWorkers = 4;

  private:
    struct State;
    std::shared_ptr<State> state_;  // shared with the workers, which may outlive the probe
    std::chrono::milliseconds deadline_;
};

}  // namespace quillo
