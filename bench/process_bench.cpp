// Guards the cost of listing the processes, which a panel may do every second. The
// floor is the bare reads the listing cannot avoid: for every process, opening and
// reading its stat and status files and the first bytes of its executable. The busiest
// processes' reader is held against reading every process's stat and statm once, and
// status where stat is root's and not a kernel thread's (the reader cannot know the user
// otherwise).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "RatioMain.hpp"
#include "quillo/metrics/ProcessAPI.hpp"
#include "quillo/metrics/ProcessUsage.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"

namespace {

void BM_FloorReads(benchmark::State& state) {
    quillo::LinuxPlatform platform;
    std::vector<std::int32_t> pids;
    const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    char buffer[4096];
    char path[48];
    for (auto _ : state) {
        platform.listProcesses(pids);
        for (const std::int32_t pid : pids) {
            for (const char* name : {"stat", "status", "exe"}) {
                std::snprintf(path, sizeof path, "%d/%s", int(pid), name);
                const int fd = ::openat(proc, path, O_RDONLY | O_CLOEXEC);
                if (fd < 0) continue;
                benchmark::DoNotOptimize(::read(fd, buffer, name[0] == 'e' ? 20 : sizeof buffer));
                ::close(fd);
            }
        }
    }
    ::close(proc);
    state.counters["processes"] = double(pids.size());
}
BENCHMARK(BM_FloorReads)->Unit(benchmark::kMillisecond);

void BM_List(benchmark::State& state) {
    std::size_t count = 0;
    for (auto _ : state) {
        const auto processes = quillo::ProcessAPI::list();
        count = processes.size();
        benchmark::DoNotOptimize(processes.data());
    }
    state.counters["processes"] = double(count);
}
BENCHMARK(BM_List)->Unit(benchmark::kMillisecond);

void BM_FloorUsageFiles(benchmark::State& state) {
    std::vector<std::int32_t> pids;
    const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    quillo::LinuxPlatform platform;
    char buffer[1024];
    char path[48];
    const auto readOnce = [&](std::int32_t pid, const char* name, struct stat* owner) {
        std::snprintf(path, sizeof path, "%d/%s", int(pid), name);
        const int fd = ::openat(proc, path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
        if (owner) ::fstat(fd, owner);
        ::close(fd);
        return true;
    };
    for (auto _ : state) {
        platform.listProcesses(pids);
        for (const std::int32_t pid : pids) {
            struct stat owner {};
            if (!readOnce(pid, "stat", &owner)) continue;
            // A kernel thread's statm is all zeros.
            if (readOnce(pid, "statm", nullptr) && owner.st_uid == 0 && buffer[0] != '0')
                readOnce(pid, "status", nullptr);
        }
    }
    ::close(proc);
    state.counters["processes"] = double(pids.size());
}
BENCHMARK(BM_FloorUsageFiles)->Unit(benchmark::kMillisecond);

void BM_Usage(benchmark::State& state) {
    quillo::ProcessUsageReader reader;
    std::size_t count = 0;
    for (auto _ : state) {
        const auto processes = reader.sample();
        count = processes.size();
        benchmark::DoNotOptimize(processes.data());
    }
    state.counters["processes"] = double(count);
}
BENCHMARK(BM_Usage)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return quillo::bench::runWithRatios(
        argc, argv, {{"BM_List", "BM_FloorReads"}, {"BM_Usage", "BM_FloorUsageFiles"}});
}
