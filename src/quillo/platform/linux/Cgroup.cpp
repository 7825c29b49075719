#include "quillo/platform/linux/Cgroup.hpp"

#include <algorithm>
#include <cmath>

#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Text.hpp"
#include "quillo/platform/linux/Cpu.hpp"
#include "quillo/platform/linux/Mounts.hpp"

namespace quillo {

namespace {

bool listed(std::string_view commaList, std::string_view name) {
    while (!commaList.empty()) {
        const std::size_t comma = commaList.find(',');
        if (commaList.substr(0, comma) == name) return true;
        if (comma == std::string_view::npos) break;
        commaList.remove_prefix(comma + 1);
    }
    return false;
}

// A "key value" line's value from memory.stat or cpu.stat.
std::optional<std::uint64_t> statValue(std::string_view text, std::string_view key) {
    std::optional<std::uint64_t> value;
    forEachLine(text, [&](std::string_view line) {
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == ' ') {
            value = parseUnsigned(trim(line.substr(key.size() + 1)));
            return false;
        }
        return true;
    });
    return value;
}

// The cgroup parent of a path ("/a/b" → "/a", "/a" → "/").
std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

constexpr auto rediscovery = std::chrono::minutes(1);

}  // namespace

std::uint64_t CgroupReading::memoryUsedBytes() const {
    return memoryUsageBytes - std::min(memoryUsageBytes, inactiveFileBytes);
}

std::optional<MemoryParts> CgroupReading::memoryParts() const {
    if (!memoryLimitBytes) return std::nullopt;
    // Running totals in kB, so the five always add up to the limit.
    const std::uint64_t limitKb = *memoryLimitBytes / 1024;
    const std::uint64_t usageKb = std::min(limitKb, memoryUsageBytes / 1024);
    const std::uint64_t usedKb = std::min(usageKb, memoryUsedBytes() / 1024);
    MemoryParts parts;
    parts.free = limitKb - usageKb;
    parts.inactive = usageKb - usedKb;
    parts.wired = std::min(usedKb, wiredBytes / 1024);
    parts.compressed = std::min(usedKb - parts.wired, zswapBytes / 1024);
    parts.active = usedKb - parts.wired - parts.compressed;
    return parts;
}

std::vector<CgroupMembership> parseCgroupMembership(std::string_view text, bool named) {
    std::vector<CgroupMembership> out;
    forEachLine(text, [&](std::string_view line) {
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos || line.size() <= second + 1 ||
            line[second + 1] != '/')
            return true;
        CgroupMembership m;
        m.controllers = line.substr(first + 1, second - first - 1);
        m.path = line.substr(second + 1);
        if (named || m.controllers.rfind("name=", 0) != 0) out.push_back(std::move(m));
        return true;
    });
    return out;
}

std::optional<double> CgroupCpuShare::next(std::uint64_t usageNs, double cores,
                                           Clock::time_point now) {
    std::optional<double> share;
    if (last_ && usageNs >= last_->first && now > last_->second && cores > 0) {
        const double seconds = std::chrono::duration<double>(now - last_->second).count();
        share = std::clamp(double(usageNs - last_->first) / 1e9 / seconds / cores, 0.0, 1.0);
    }
    last_.emplace(usageNs, now);
    return share;
}

void CgroupFiles::choose(std::string choice) {
    while (choice.size() > 1 && choice.back() == '/') choice.pop_back();
    choice_ = std::move(choice);
    places_.reset();
    last_.reset();
    wanted_ = 0;
}

struct CgroupFiles::Hierarchies {
    std::vector<CgroupMembership> members;
    std::vector<MountEntry> mounts;
};

std::optional<CgroupFiles::Hierarchies> CgroupFiles::hierarchies() {
    if (choice_ == "host") return std::nullopt;
    ReadBuffer text;
    if (!files_.read(Fs::proc, "self/cgroup", text)) return std::nullopt;
    Hierarchies h;
    h.members = parseCgroupMembership(text.view());
    if (!files_.read(Fs::proc, "self/mountinfo", text)) return std::nullopt;
    h.mounts = parseMountInfo(text.view());
    return h;
}

// Each hierarchy's folder of the cgroup asked for, then its ancestors up to the mount's
// root. A controller a v1 hierarchy holds is read there; any other from the v2 one.
std::vector<CgroupFiles::Place> CgroupFiles::chain(const Hierarchies& h,
                                                   std::string_view controller) const {
    std::vector<Place> out;
    const std::vector<CgroupMembership>& members = h.members;
    const std::vector<MountEntry>& mounts = h.mounts;
    const MountEntry* mount = nullptr;
    const CgroupMembership* member = nullptr;
    for (const MountEntry& m : mounts) {
        if (m.fsType != "cgroup" || !listed(m.options, controller)) continue;
        for (const CgroupMembership& c : members) {
            if (!c.v2() && listed(c.controllers, controller)) member = &c;
        }
        mount = &m;
        break;
    }
    int version = 1;
    if (!mount) {
        version = 2;
        for (const MountEntry& m : mounts) {
            if (m.fsType == "cgroup2") mount = &m;
        }
        for (const CgroupMembership& c : members) {
            if (c.v2()) member = &c;
        }
    }
    if (!mount || !member || mount->mountPoint.rfind("/sys/", 0) != 0) return out;
    std::string path = choice_ == "auto" ? member->path : choice_;
    // The mount shows a part of the hierarchy: what is below its root is in its folder.
    std::string relative = path;
    if (mount->root != "/" && (path == mount->root || path.rfind(mount->root + "/", 0) == 0))
        relative = path.substr(mount->root.size());
    if (relative == "/") relative.clear();
    const std::string top = mount->mountPoint.substr(5);
    for (;;) {
        out.push_back({top + relative, path.empty() ? "/" : path, version});
        if (relative.empty()) break;
        relative.resize(relative.rfind('/'));
        path = parentOf(path);
    }
    return out;
}

bool CgroupFiles::exists() {
    if (choice_ == "auto" || choice_ == "host") return true;
    const std::optional<Hierarchies> h = hierarchies();
    if (!h) return false;
    ReadBuffer text;
    for (const char* controller : {"memory", "cpu"}) {
        const std::vector<Place> places = chain(*h, controller);
        if (!places.empty() && files_.readOnce(Fs::sys, places[0].folder + "/cgroup.procs", text))
            return true;
    }
    return false;
}

void CgroupFiles::discover() {
    Places found;
    const std::optional<Hierarchies> h = hierarchies();
    if (!h) {
        places_ = std::move(found);
        return;
    }
    const std::uint64_t machineMemory = memory_.totalBytes();
    const std::size_t machineCpus = cpu_.onlineCpus().size();
    ReadBuffer text;
    const auto read = [&](const Place& p, std::string_view file) {
        return files_.readOnce(Fs::sys, p.folder + "/" + std::string(file), text);
    };
    const std::vector<Place> memory = chain(*h, "memory");
    for (const Place& p : memory) {
        if (!read(p, p.version == 2 ? "memory.max" : "memory.limit_in_bytes")) continue;
        const auto limit = parseUnsigned(trim(text.view()));  // "max" is none
        if (limit && *limit < machineMemory &&
            (!found.memoryLimit || *limit < *found.memoryLimit)) {
            found.memoryLimit = limit;
            found.memory = p;
        }
    }
    const std::vector<Place> cpu = chain(*h, "cpu");
    for (const Place& p : cpu) {
        std::optional<double> quota;
        if (p.version == 2) {
            if (read(p, "cpu.max")) quota = parseCgroupCpuMax(text.view());
        } else if (read(p, "cpu.cfs_quota_us")) {
            const auto q = parseUnsigned(trim(text.view()));  // -1 is none
            if (q && read(p, "cpu.cfs_period_us")) {
                if (const auto period = parseUnsigned(trim(text.view())); period && *period > 0)
                    quota = double(*q) / double(*period);
            }
        }
        if (quota && *quota < double(machineCpus) &&
            (!found.cpuLimit || *quota < *found.cpuLimit)) {
            found.cpuLimit = quota;
            found.cpu = p;
        }
    }
    if (const std::vector<Place> cpuset = chain(*h, "cpuset"); !cpuset.empty()) {
        const Place& own = cpuset.front();
        if (read(own, own.version == 2 ? "cpuset.cpus.effective" : "cpuset.effective_cpus")) {
            const auto cpus = parseCpuList(trim(text.view()));
            if (cpus && !cpus->empty() && cpus->size() < machineCpus &&
                (!found.cpuLimit || double(cpus->size()) < *found.cpuLimit)) {
                found.cpuLimit = double(cpus->size());
                found.cpu.reset();
            }
        }
    }
    // CPU time is counted where the limit is, else in this process's own cgroup.
    if (found.cpuLimit && !found.cpu && !cpu.empty()) found.cpu = cpu.front();
    if (found.cpu && found.cpu->version == 1) {
        for (const Place& p : chain(*h, "cpuacct")) {
            if (!found.cpuacct || p.path == found.cpu->path) found.cpuacct = p;
            if (p.path == found.cpu->path) break;
        }
    }
    // The v2 hierarchy's own cgroup, for its pressure: no v1 hierarchy holds this name.
    const std::vector<Place> v2 = chain(*h, "pressure");
    if (found.memory && found.memory->version == 2) {
        found.v2 = found.memory;
    } else if (found.cpu && found.cpu->version == 2) {
        found.v2 = found.cpu;
    } else if (!v2.empty()) {
        found.v2 = v2.front();
    }
    places_ = std::move(found);
}

const CgroupFiles::Places& CgroupFiles::places() {
    const auto now = std::chrono::steady_clock::now();
    if (!places_ || now - discovered_ >= rediscovery) {
        discover();
        discovered_ = now;
    }
    return *places_;
}

std::optional<std::uint64_t> CgroupFiles::memoryLimit() {
    return places().memoryLimit;
}

std::optional<double> CgroupFiles::cpuLimit() {
    return places().cpuLimit;
}

std::optional<CgroupReading> CgroupFiles::read(unsigned parts) {
    const Places& at = places();
    if (!at.memoryLimit && !at.cpuLimit) return std::nullopt;
    // Within a tick the files are read once, for every part that has been asked for:
    // the panel asks for the CPU and the memory apart, its recorder for both.
    const auto now = std::chrono::steady_clock::now();
    if (last_ && (parts & ~lastParts_) == 0 && now - lastAt_ < std::chrono::milliseconds(50))
        return last_;
    wanted_ |= parts;
    last_ = readNow(at, wanted_);
    lastParts_ = wanted_;
    lastAt_ = now;
    return last_;
}

std::optional<CgroupReading> CgroupFiles::readNow(const Places& at, unsigned parts) {
    CgroupReading r;
    r.path = at.memory ? at.memory->path : at.cpu ? at.cpu->path : "/";
    r.memoryLimitBytes = at.memoryLimit;
    const auto tick = [&](const Place& p, std::string_view file) {
        return files_.readTick(Fs::sys, p.folder + "/" + std::string(file));
    };
    r.cpuLimitCores = at.cpuLimit;
    if (at.memory && (parts & memory)) {
        const bool v2 = at.memory->version == 2;
        const auto usage = tick(*at.memory, v2 ? "memory.current" : "memory.usage_in_bytes");
        const auto value = usage ? parseUnsigned(trim(*usage)) : std::nullopt;
        if (!value) {
            debug::note(at.memory->folder, "memory usage unreadable");
            r.memoryLimitBytes.reset();
        } else {
            r.memoryUsageBytes = *value;
            if (const auto stat = tick(*at.memory, "memory.stat")) {
                const auto get = [&](std::string_view key) {
                    return statValue(*stat, key).value_or(0);
                };
                if (v2) {
                    r.inactiveFileBytes = get("inactive_file");
                    r.wiredBytes = get("unevictable") + get("kernel_stack") + get("pagetables") +
                                   get("slab_unreclaimable");
                    r.zswapBytes = get("zswap");
                } else {
                    r.inactiveFileBytes = get("total_inactive_file");
                    r.wiredBytes = get("total_unevictable");
                }
            }
        }
    }
    if (at.cpu && (parts & cpu)) {
        if (const auto stat = tick(*at.cpu, "cpu.stat")) {
            r.throttledPeriods = statValue(*stat, "nr_throttled");
            if (at.cpu->version == 2) {
                if (const auto us = statValue(*stat, "usage_usec")) r.cpuUsageNs = *us * 1000;
                if (const auto us = statValue(*stat, "throttled_usec")) r.throttledNs = *us * 1000;
            } else {
                r.throttledNs = statValue(*stat, "throttled_time");
            }
        }
        if (at.cpuacct) {
            if (const auto usage = tick(*at.cpuacct, "cpuacct.usage"))
                r.cpuUsageNs = parseUnsigned(trim(*usage));
        }
    }
    if (at.v2 && (parts & pressure)) {
        for (const std::string_view resource : pressureResources) {
            const auto text = tick(*at.v2, std::string(resource) + ".pressure");
            if (text) r.pressure.emplace_back(resource, parsePressure(*text));
        }
    }
    return r.limited() ? std::optional(std::move(r)) : std::nullopt;
}

}  // namespace quillo
