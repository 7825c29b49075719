#include "quillo/metrics/ProcessUsage.hpp"

#include <pwd.h>

#include <algorithm>
#include <map>

#include "quillo/metrics/Utf8.hpp"

namespace quillo {

const std::string& UserNames::operator()(std::int64_t uid) {
    if (const auto it = names_.find(uid); it != names_.end()) return it->second;
    std::string name = std::to_string(uid);
    if (uid >= 0 && uid <= UINT32_MAX) {
        passwd entry{};
        passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(uid_t(uid), &entry, buffer, sizeof buffer, &found) == 0 && found)
            name = decodeUtf8Lossy(found->pw_name);
    }
    return names_.emplace(uid, std::move(name)).first->second;
}

void ProcessUsageReader::reset() {
    previous_.clear();
    primed_ = false;
}

std::vector<ProcessUsage> ProcessUsageReader::sample(Clock::time_point now) {
    std::vector<ProcessUsage> processes;
    if (!currentPlatform().processUsage(raw_)) {
        reset();
        return processes;
    }
    const double elapsed =
        primed_ ? std::chrono::duration<double, std::nano>(now - previousAt_).count() : 0;
    processes.reserve(raw_.size());
    current_.clear();
    current_.reserve(raw_.size());
    for (const ProcessUsageSample& s : raw_) {
        ProcessUsage& p = processes.emplace_back();
        p.pid = s.pid;
        p.uid = s.uid;
        p.user = users_(s.uid);
        p.command = decodeUtf8Lossy(s.comm);
        p.rss = s.residentBytes;
        p.startTime = s.startTime;
        if (elapsed > 0) {
            std::uint64_t before = 0;
            if (const auto it = previous_.find(s.pid);
                it != previous_.end() && it->second.startTime == s.startTime)
                before = std::min(it->second.cpuNanoseconds, s.cpuNanoseconds);
            p.cpu = 100.0 * double(s.cpuNanoseconds - before) / elapsed;
        }
        current_.emplace(s.pid, Seen{s.startTime, s.cpuNanoseconds});
    }
    std::swap(previous_, current_);
    previousAt_ = now;
    primed_ = true;
    return processes;
}

std::vector<ProcessUsage> busiest(std::vector<ProcessUsage> processes, UsageOrder order,
                                  std::size_t count) {
    const auto before = [order](const ProcessUsage& a, const ProcessUsage& b) {
        if (order == UsageOrder::cpu && a.cpu != b.cpu) return a.cpu > b.cpu;
        if (a.rss != b.rss) return a.rss > b.rss;
        return a.pid < b.pid;
    };
    count = std::min(count, processes.size());
    std::partial_sort(processes.begin(), processes.begin() + std::ptrdiff_t(count), processes.end(),
                      before);
    processes.resize(count);
    return processes;
}

std::vector<UnitUsage> busiestUnits(
    const std::vector<ProcessUsage>& processes,
    const std::function<std::optional<std::string>(std::int64_t)>& unitOf, UsageOrder order,
    std::size_t count) {
    std::map<std::string, UnitUsage> units;
    for (const ProcessUsage& p : processes) {
        std::string unit = unitOf(p.pid).value_or("?");
        UnitUsage& u = units[unit];
        u.unit = std::move(unit);
        ++u.processes;
        u.cpu += p.cpu;
        u.rss += p.rss;
    }
    std::vector<UnitUsage> out;
    out.reserve(units.size());
    for (auto& [name, u] : units) out.push_back(std::move(u));
    const auto before = [order](const UnitUsage& a, const UnitUsage& b) {
        if (order == UsageOrder::cpu && a.cpu != b.cpu) return a.cpu > b.cpu;
        if (a.rss != b.rss) return a.rss > b.rss;
        return a.unit < b.unit;
    };
    count = std::min(count, out.size());
    std::partial_sort(out.begin(), out.begin() + std::ptrdiff_t(count), out.end(), before);
    out.resize(count);
    return out;
}

}  // namespace quillo
