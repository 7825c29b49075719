// Guards the cost of the readers the panel calls on every tick, and of the exporter's
// scrape. The floors are the
// same files read bare, each to its end (read until the kernel returns 0, as a
// multi-record procfs file must be read): opened, read and closed each time, and read
// with pread on descriptors kept open (what the platform layer does). A tick that
// drifts above 1.25 times the kept-descriptor floor is parsing or allocating more than
// it should. A tick showing every row has its own floor: those files and folders too,
// and a statvfs per file system.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "RatioMain.hpp"
#include "quillo/metrics/History.hpp"
#include "quillo/metrics/Sample.hpp"
#include "quillo/metrics/System.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/settings/Configuration.hpp"
#include "quillo/settings/SettingsSuite.hpp"
#include "quillo/widget/ExtraRows.hpp"

namespace {

using quillo::System;

// The files one tick of the panel's System readers reads, in order.
constexpr std::array<const char*, 6> tickFiles = {
    "/proc/stat",     // usageCPU
    "/proc/meminfo",  // memoryUsage
    "/proc/meminfo",  // physicalMemory
    "/sys/devices/system/cpu/online",
    "/proc/loadavg",  // loadAverage
    "/proc/stat",     // uptime
};

char buffer[1 << 16];

// Reads from offset 0 until the file has ended.
void preadToEnd(int fd) {
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer + at, sizeof buffer - std::size_t(at), at);
        if (n <= 0) return;
        at += n;
    }
}

void BM_FloorOpenReadClose(benchmark::State& state) {
    for (auto _ : state) {
        for (const char* path : tickFiles) {
            const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
            preadToEnd(fd);
            ::close(fd);
        }
    }
}
BENCHMARK(BM_FloorOpenReadClose);

void BM_FloorPreadKept(benchmark::State& state) {
    std::array<int, tickFiles.size()> fds{};
    for (std::size_t i = 0; i < tickFiles.size(); ++i)
        fds[i] = ::open(tickFiles[i], O_RDONLY | O_CLOEXEC);
    for (auto _ : state) {
        for (const int fd : fds) preadToEnd(fd);
    }
    for (const int fd : fds) ::close(fd);
}
BENCHMARK(BM_FloorPreadKept);

void BM_Tick(benchmark::State& state) {
    System sys;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sys.usageCPU());
        benchmark::DoNotOptimize(System::memoryUsage());
        benchmark::DoNotOptimize(System::physicalMemory());
        benchmark::DoNotOptimize(System::loadAverage());
        benchmark::DoNotOptimize(System::uptime());
    }
}
BENCHMARK(BM_Tick);

void BM_UsageCPU(benchmark::State& state) {
    System sys;
    for (auto _ : state) benchmark::DoNotOptimize(sys.usageCPU());
}
BENCHMARK(BM_UsageCPU);

void BM_MemoryUsage(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(System::memoryUsage());
}
BENCHMARK(BM_MemoryUsage);

void BM_PhysicalMemory(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(System::physicalMemory());
}
BENCHMARK(BM_PhysicalMemory);

void BM_LoadAverage(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(System::loadAverage());
}
BENCHMARK(BM_LoadAverage);

void BM_Uptime(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(System::uptime());
}
BENCHMARK(BM_Uptime);

void BM_ProcessCounts(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(System::processCounts());
}
BENCHMARK(BM_ProcessCounts);

void BM_CPUPowerLimit(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(System::CPUPowerLimit());
}
BENCHMARK(BM_CPUPowerLimit);

void BM_ThermalLevel(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(System::thermalLevel());
}
BENCHMARK(BM_ThermalLevel);

void BM_ModelName(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(System::modelName());
}
BENCHMARK(BM_ModelName);

// One scrape of the exporter reads these files and folders, and the space of every file
// system df lists; the routing tables only when the kernel says they changed.
constexpr std::array<const char*, 12> scrapeFiles = {"/proc/stat",
                                                     "/proc/meminfo",
                                                     "/proc/vmstat",
                                                     "/proc/loadavg",
                                                     "/sys/devices/system/cpu/online",
                                                     "/proc/net/dev",
                                                     "/proc/self/cgroup",
                                                     "/proc/diskstats",
                                                     "/proc/pressure/cpu",
                                                     "/proc/pressure/memory",
                                                     "/proc/pressure/io",
                                                     "/proc/self/mountinfo"};
constexpr std::array<const char*, 4> scrapeFolders = {
    "/proc", "/sys/class/thermal", "/sys/class/power_supply", "/sys/class/hwmon"};

std::vector<std::string> dfMountPoints() {
    std::vector<std::string> mounts;
    std::ifstream table("/proc/self/mountinfo");
    const std::string text((std::istreambuf_iterator<char>(table)),
                           std::istreambuf_iterator<char>());
    for (const quillo::MountEntry& m : quillo::dfMounts(quillo::parseMountInfo(text)))
        mounts.push_back(m.mountPoint);
    return mounts;
}

// The bare reads of a set of files, folders and file systems, with descriptors kept
// open as the platform layer keeps them.
void floorReads(benchmark::State& state, std::span<const char* const> files,
                std::span<const char* const> folderPaths) {
    std::vector<int> fds, folders;
    for (const char* path : files) fds.push_back(::open(path, O_RDONLY | O_CLOEXEC));
    for (const char* path : folderPaths)
        folders.push_back(::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::vector<std::string> mounts = dfMountPoints();
    struct statvfs vfs {};
    for (auto _ : state) {
        for (const int fd : fds) preadToEnd(fd);
        for (const int fd : folders) {
            ::lseek(fd, 0, SEEK_SET);
            while (::syscall(SYS_getdents64, fd, buffer, sizeof buffer) > 0) {
            }
        }
        for (const std::string& m : mounts) ::statvfs(m.c_str(), &vfs);
    }
    for (const int fd : fds) ::close(fd);
    for (const int fd : folders) ::close(fd);
}

void BM_FloorScrape(benchmark::State& state) {
    floorReads(state, scrapeFiles, scrapeFolders);
}
BENCHMARK(BM_FloorScrape);

void BM_Scrape(benchmark::State& state) {
    quillo::LinuxPlatform platform;
    quillo::Sampler sampler(platform);
    const quillo::LinuxPlatform::DefaultRoutes known;  // the exporter's, kept between scrapes
    for (auto _ : state) benchmark::DoNotOptimize(sampler.take(&known));
}
BENCHMARK(BM_Scrape);

// A tick of a panel showing every row: the System readers, then the rows beyond the
// compact panel's, each part read once.
const std::vector<quillo::PanelRow> everyRow = [] {
    std::vector<quillo::PanelRow> rows;
    for (std::size_t i = 0; i < quillo::panelRowNames.size(); ++i)
        rows.push_back(quillo::PanelRow(i));
    return rows;
}();
constexpr std::array<const char*, 10> everyRowFiles = {"/proc/stat",
                                                       "/proc/meminfo",
                                                       "/proc/vmstat",
                                                       "/proc/diskstats",
                                                       "/proc/pressure/cpu",
                                                       "/proc/pressure/io",
                                                       "/proc/pressure/memory",
                                                       "/proc/net/dev",
                                                       "/proc/self/mountinfo",
                                                       "/sys/devices/system/cpu/online"};
constexpr std::array<const char*, 2> everyRowFolders = {"/sys/class/hwmon", "/sys/class/thermal"};

void BM_FloorTickEveryRow(benchmark::State& state) {
    std::vector<const char*> files(tickFiles.begin(), tickFiles.end());
    files.insert(files.end(), everyRowFiles.begin(), everyRowFiles.end());
    floorReads(state, files, everyRowFolders);
}
BENCHMARK(BM_FloorTickEveryRow);

void BM_TickEveryRow(benchmark::State& state) {
    System sys;
    quillo::LinuxPlatform platform;
    quillo::ExtraRows rows(platform, {}, false);
    const quillo::Configuration config(std::make_unique<quillo::SettingsSuite>("/nonexistent"));
    for (auto _ : state) {
        benchmark::DoNotOptimize(sys.usageCPU());
        benchmark::DoNotOptimize(System::memoryUsage());
        benchmark::DoNotOptimize(System::physicalMemory());
        benchmark::DoNotOptimize(System::loadAverage());
        benchmark::DoNotOptimize(System::uptime());
        benchmark::DoNotOptimize(rows.refresh(everyRow, config));
    }
}
BENCHMARK(BM_TickEveryRow);

// A point of the history as a panel records it each refresh: its sample and its write.
void BM_RecordPoint(benchmark::State& state) {
    quillo::LinuxPlatform platform;
    char folder[] = "/tmp/quillo-bench-XXXXXX";
    if (!::mkdtemp(folder)) return state.SkipWithError("no scratch folder");
    {
        quillo::Recorder recorder(platform, quillo::HistoryWriter::open(folder, nullptr));
        std::int64_t wall = 0;
        for (auto _ : state) recorder.record(wall += 1000);
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_RecordPoint);

// A day of points a second read back, as `quillo history --since 24h` reads them.
void BM_ReadDay(benchmark::State& state) {
    char folder[] = "/dev/shm/quillo-bench-XXXXXX";
    if (!::mkdtemp(folder)) return state.SkipWithError("no scratch folder");
    {
        auto writer = quillo::HistoryWriter::open(folder, nullptr);
        std::array<double, quillo::historyFigureCount> values{};
        for (std::int64_t s = 0; s < 86'400; ++s) writer->add(s * 1000, values);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(quillo::HistoryReader(folder).seconds(0, INT64_MAX));
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ReadDay)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return quillo::bench::runWithRatios(argc, argv,
                                        {{"BM_Tick", "BM_FloorPreadKept"},
                                         {"BM_Tick", "BM_FloorOpenReadClose"},
                                         {"BM_Scrape", "BM_FloorScrape"},
                                         {"BM_TickEveryRow", "BM_FloorTickEveryRow"}});
}
