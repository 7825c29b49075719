#include "quillo/platform/linux/Mounts.hpp"

#include <sys/statvfs.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "quillo/platform/Text.hpp"

namespace quillo {

namespace {

// "\040" and its kin back into the bytes they stand for.
std::string unescaped(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(),
                            [](char c) { return c >= '0' && c <= '7'; })) {
                out += char((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    forEachLine(text, [&](std::string_view line) {
        // id parent major:minor root mountpoint options [optional...] - type source super
        std::vector<std::string_view> f;
        forEachField(line, [&](std::string_view field) {
            f.push_back(field);
            return f.size() < 64;
        });
        const auto dash = std::find(f.begin(), f.end(), std::string_view("-"));
        if (f.size() < 10 || dash - f.begin() < 6 || f.end() - dash < 4) return true;
        const std::string_view device = f[2];
        const std::size_t colon = device.find(':');
        const auto major = parseUnsigned(device.substr(0, colon));
        const auto minor = colon == std::string_view::npos
                               ? std::nullopt
                               : parseUnsigned(device.substr(colon + 1));
        if (!major || !minor || *major > UINT32_MAX || *minor > UINT32_MAX) return true;
        MountEntry m;
        m.major = std::uint32_t(*major);
        m.minor = std::uint32_t(*minor);
        m.root = unescaped(f[3]);
        m.mountPoint = unescaped(f[4]);
        m.fsType = unescaped(dash[1]);
        m.source = unescaped(dash[2]);
        m.options = std::string(f[5]) + "," + std::string(dash[3]);
        mounts.push_back(std::move(m));
        return true;
    });
    return mounts;
}

bool isPseudoFileSystem(const MountEntry& m) {
    // df's own list, then the kernel's file systems that never have blocks, which df
    // leaves out by their size: a copied tree has no size to ask.
    static constexpr std::string_view dummy[] = {
        "autofs",   "proc",       "subfs",  "debugfs",  "devpts",  "fusectl",  "fuse.portal",
        "mqueue",   "rpc_pipefs", "sysfs",  "devfs",    "kernfs",  "ignore",   "cgroup",
        "cgroup2",  "securityfs", "pstore", "bpf",      "tracefs", "configfs", "binfmt_misc",
        "efivarfs", "selinuxfs",  "nsfs",   "hugetlbfs"};
    if (std::find(std::begin(dummy), std::end(dummy), m.fsType) != std::end(dummy)) return true;
    return m.fsType == "none" && m.options.find("bind") == std::string::npos;
}

bool isRemoteFileSystem(const MountEntry& m) {
    static constexpr std::string_view network[] = {"afs", "auristorfs", "smb3",  "smbfs", "cifs",
                                                   "nfs", "nfs4",       "ncpfs", "9p"};
    if (std::find(std::begin(network), std::end(network), m.fsType) != std::end(network))
        return true;
    return m.source.find(':') != std::string::npos || m.source.starts_with("//");
}

std::vector<char> answersFromMemory(const std::vector<MountEntry>& listed,
                                    const std::vector<MountEntry>& all) {
    static constexpr std::string_view fromMemory[] = {
        "ext2",  "ext3",     "ext4",     "xfs",   "btrfs",   "f2fs", "tmpfs",
        "ramfs", "devtmpfs", "squashfs", "erofs", "iso9660", "proc", "sysfs"};
    const auto known = [](const MountEntry& m) {
        return std::find(std::begin(fromMemory), std::end(fromMemory), m.fsType) !=
               std::end(fromMemory);
    };
    std::vector<char> direct;
    for (const MountEntry& m : listed) {
        // The walk to the mount point passes every mount above it, and a lookup in a
        // network folder may wait on the network.
        const bool reached = std::all_of(all.begin(), all.end(), [&](const MountEntry& above) {
            const std::string& a = above.mountPoint;
            const bool isAbove = a != m.mountPoint && m.mountPoint.starts_with(a) &&
                                 (a == "/" || m.mountPoint[a.size()] == '/');
            return !isAbove || known(above);
        });
        direct.push_back(known(m) && reached);
    }
    return direct;
}

std::vector<MountEntry> dfMounts(const std::vector<MountEntry>& all) {
    // O(n²) in the mounts, which number tens, rarely a few hundred.
    std::vector<const MountEntry*> kept;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const MountEntry& m = all[i];
        if (isPseudoFileSystem(m)) continue;
        // A later mount on the same folder hides this one, as stat of the folder shows.
        if (std::any_of(all.begin() + std::ptrdiff_t(i) + 1, all.end(),
                        [&](const MountEntry& later) { return later.mountPoint == m.mountPoint; }))
            continue;
        const auto same = std::find_if(kept.begin(), kept.end(), [&](const MountEntry* k) {
            return k->major == m.major && k->minor == m.minor &&
                   !(isRemoteFileSystem(*k) && isRemoteFileSystem(m) && k->source != m.source);
        });
        if (same == kept.end()) {
            kept.push_back(&m);
            continue;
        }
        const MountEntry& k = **same;
        const bool nearerRoot = k.mountPoint.size() > m.mountPoint.size();
        const bool sourceBelowRoot = k.root.size() < m.root.size();
        if ((m.source.find('/') != std::string::npos && k.source.find('/') == std::string::npos) ||
            (nearerRoot && !sourceBelowRoot) ||
            (k.source != m.source && k.mountPoint == m.mountPoint)) {
            *same = &m;
        }
    }
    std::vector<MountEntry> out;
    for (const MountEntry* m : kept) out.push_back(*m);
    return out;
}

struct SpaceProbe::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> jobs;
    struct Known {
        std::optional<VolumeSpace> space;
        bool inFlight = false;
    };
    std::map<std::string, Known, std::less<>> known;
    int workers = 0, busy = 0;
    bool stopping = false;

    static void work(const std::shared_ptr<State>& self) {
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->changed.wait(lock, [&] { return self->stopping || !self->jobs.empty(); });
            if (self->stopping) break;
            const std::string path = std::move(self->jobs.front());
            self->jobs.pop_front();
            ++self->busy;
            lock.unlock();
            const std::optional<VolumeSpace> space = volumeSpace(path.c_str());
            lock.lock();
            --self->busy;
            Known& k = self->known[path];
            k.space = space;
            k.inFlight = false;
            self->changed.notify_all();
        }
        --self->workers;
    }
};

SpaceProbe::SpaceProbe(std::chrono::milliseconds deadline)
    : state_(std::make_shared<State>()), deadline_(deadline) {}

SpaceProbe::~SpaceProbe() {
    const std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    state_->changed.notify_all();
}

std::vector<SpaceProbe::Answer> SpaceProbe::measure(const std::vector<std::string>& paths,
                                                    const std::vector<char>& direct) {
    const auto isDirect = [&](std::size_t i) { return i < direct.size() && direct[i]; };
    std::vector<std::optional<VolumeSpace>> now(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (isDirect(i)) now[i] = volumeSpace(paths[i].c_str());
    }
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    // Only what is asked now is waited for: a path still hanging from an earlier call is
    // stale at once, so that it delays one call, not every call.
    std::vector<const std::string*> asked;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (isDirect(i)) continue;
        const std::string& path = paths[i];
        State::Known& k = s.known[path];
        if (k.inFlight) continue;
        k.inFlight = true;
        s.jobs.push_back(path);
        asked.push_back(&path);
    }
    // A worker for each waiting path, as far as the bound allows: one that hangs then
    // holds up no other.
    while (s.workers - s.busy < int(s.jobs.size()) && s.workers < maximumWorkers) {
        ++s.workers;
        std::thread(State::work, state_).detach();
    }
    s.changed.notify_all();
    s.changed.wait_for(lock, deadline_, [&] {
        return std::none_of(asked.begin(), asked.end(),
                            [&](const std::string* p) { return s.known[*p].inFlight; });
    });
    std::vector<Answer> answers;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (isDirect(i)) {
            answers.push_back({now[i], false});
            continue;
        }
        const State::Known& k = s.known[paths[i]];
        answers.push_back({k.space, k.inFlight});
    }
    return answers;
}

}  // namespace quillo
