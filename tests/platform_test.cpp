#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cmath>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "quillo/metrics/Sample.hpp"
#include "quillo/metrics/System.hpp"
#include "quillo/platform/linux/Cpu.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/platform/linux/Memory.hpp"
#include "quillo/platform/linux/Thermal.hpp"
#include "quillo/widget/ExtraRows.hpp"
#include "support/Child.hpp"
#include "support/FakePlatform.hpp"
#include "support/Panel.hpp"
#include "support/Require.hpp"
#include "support/Run.hpp"
#include "support/Sandbox.hpp"
#include "support/TempDir.hpp"

using namespace quillo;
using ::testing::ElementsAre;

namespace {

TEST(ProcStatParse, AggregateLineBootTimeAndPerCpuLines) {
    const struct {
        const char* text;
        std::optional<std::array<std::uint32_t, 4>> cpu;  // user, system, idle, nice
        std::optional<std::int64_t> bootTime;
    } cases[] = {
        // user nice system idle iowait irq softirq steal guest guest_nice: guest is in user
        {"cpu  10 2 30 400 5 6 7 8 9 1\nbtime 1418183276\n",
         {{10, 30 + 6 + 7 + 8, 400 + 5, 2}},
         1418183276},
        {"cpu 1 2 3 4\nbtime soon\n", {{1, 3, 4, 2}}, std::nullopt},  // old kernels' four
        {"cpu  301854 612 111922\nbtime 5\n", std::nullopt, 5},       // short: damage
        {"cpu 4294967297 0 0 4294967296\n", {{1, 0, 0, 0}}, std::nullopt},
        {"cpu0 1 2 3 4\n", std::nullopt, std::nullopt},
        {"btime 42", std::nullopt, 42},
        {"cpu 1 2\ncpu 5 6 7 8\nbtime 1\nbtime 2\n", std::nullopt, 1},  // the first counts
        {"cpu 1 2 3 4\nxbtime 9\nbtime 7\n", {{1, 3, 4, 2}}, 7}};
    for (const auto& c : cases) {
        const ProcStat stat = parseProcStat(c.text);
        ASSERT_EQ(stat.cpu.has_value(), c.cpu.has_value()) << c.text;
        if (c.cpu) {
            const host_cpu_load_info info = loadInfoFrom(*stat.cpu);
            EXPECT_EQ((std::array{info.cpu_ticks[CPU_STATE_USER], info.cpu_ticks[CPU_STATE_SYSTEM],
                                  info.cpu_ticks[CPU_STATE_IDLE], info.cpu_ticks[CPU_STATE_NICE]}),
                      *c.cpu)
                << c.text;
        }
        EXPECT_EQ(stat.bootTime, c.bootTime) << c.text;
        // A parse that stops early must find what the full one finds.
        EXPECT_EQ(parseProcStat(c.text, ProcStat::aggregate).cpu.has_value(), c.cpu.has_value());
        EXPECT_EQ(parseProcStat(c.text, ProcStat::btime).bootTime, c.bootTime);
    }
    const ProcStat lines = parseProcStat("cpu  1 1 1 1\ncpu0 1 2 3 4 5\ncpu3 1 x\ncpufoo\n");
    ASSERT_EQ(lines.cpus.size(), 2u);
    EXPECT_EQ(lines.cpus[0].number, 0);
    EXPECT_EQ(lines.cpus[0].times->iowait, 5u);
    EXPECT_EQ(lines.cpus[1].number, 3);
    EXPECT_FALSE(lines.cpus[1].times) << "a damaged line still names an online CPU";
}

TEST(CpuListParse, RangesAndDamage) {
    EXPECT_THAT(*parseCpuList("0-3,8,10-11\n"), ElementsAre(0, 1, 2, 3, 8, 10, 11));
    EXPECT_THAT(*parseCpuList("0"), ElementsAre(0));
    std::string endless;
    for (int i = 0; i < 1500; ++i) endless += "0-8191,";
    for (const std::string& bad :
         {std::string(), std::string("3-1"), std::string("a"), std::string("0-"),
          std::string("0,,1"), std::string("0-99999999"), std::string("0-5000,0-5000"),
          endless + "0"}) {
        EXPECT_EQ(parseCpuList(bad), std::nullopt) << bad.substr(0, 40);
    }
}

TEST(ThermalZone, TripsDecideTheLevel) {
    const std::vector<ThermalTrip> trips = {{"critical", 105000},
                                            {"hot", 90000},
                                            {"passive", 80000},
                                            {"active", 50000},
                                            {"critical", 0}};
    EXPECT_EQ(thermalLevelOfZone(49000, trips), 0u);
    EXPECT_EQ(thermalLevelOfZone(60000, trips), 0u) << "an active trip only starts a fan";
    EXPECT_EQ(thermalLevelOfZone(80000, trips), 5u);
    EXPECT_EQ(thermalLevelOfZone(90000, trips), 10u);
    EXPECT_EQ(thermalLevelOfZone(-44000, {{"critical", -273000}}), 0u) << "disabled trip";
}

host_cpu_load_info ticks(std::uint32_t user, std::uint32_t system, std::uint32_t idle,
                         std::uint32_t nice) {
    host_cpu_load_info info;
    info.cpu_ticks[CPU_STATE_USER] = user;
    info.cpu_ticks[CPU_STATE_SYSTEM] = system;
    info.cpu_ticks[CPU_STATE_IDLE] = idle;
    info.cpu_ticks[CPU_STATE_NICE] = nice;
    return info;
}

class SystemOnFake : public ::testing::Test {
  protected:
    test::FakePlatform platform;
};

TEST_F(SystemOnFake, CpuSharesBetweenSamples) {
    platform.cpuLoad = ticks(1100, 550, 8300, 550);
    System fresh = System::init();
    auto u = fresh.usageCPU();
    EXPECT_TRUE(u.system == 0 && u.user == 0 && u.idle == 100 && u.nice == 0) << "the first sample";
    EXPECT_EQ(fresh.loadPrevious.cpu_ticks[CPU_STATE_IDLE], 8300u) << "and it primes";

    System sys{ticks(1000, 500, 8000, 500)};
    System copy = sys;
    u = sys.usageCPU();
    EXPECT_TRUE(u.system == 10 && u.user == 20 && u.idle == 60 && u.nice == 10);
    u = sys.usageCPU();
    EXPECT_TRUE(std::isnan(u.system) && std::isnan(u.user) && std::isnan(u.idle) &&
                std::isnan(u.nice))
        << "no tick elapsed";
    platform.cpuLoad = ticks(1000, 500, 8100, 500);
    EXPECT_EQ(copy.usageCPU().idle, 100.0) << "a copy samples over its own interval";

    platform.cpuLoad = host_cpu_load_info{};  // what an unreadable stat gives
    EXPECT_EQ(copy.usageCPU().idle, 100.0) << "a failed read repeats the last figure";
    platform.cpuLoad = ticks(1100, 500, 8200, 500);
    EXPECT_EQ(copy.usageCPU().idle, 50.0) << "measured from the last good sample";

    System wrapped{ticks(UINT32_MAX - 49, 100, 100, 100)};
    platform.cpuLoad = ticks(50, 100, 200, 100);
    EXPECT_EQ(wrapped.usageCPU().user, 50.0) << "a wrapped counter counts the ticks that passed";
}

TEST_F(SystemOnFake, MemoryInGigabytesWhateverThePageSizeAndUnits) {
    platform.vm.free_count = 262144;
    EXPECT_EQ(System::memoryUsage().free, 1.0);
    platform.vm.free_count = 65536;
    platform.page = 16384;
    EXPECT_EQ(System::memoryUsage().free, 1.0);
    platform.basic.max_mem = 17179869184ull;
    EXPECT_EQ(System::physicalMemory(), 16.0);
    EXPECT_EQ(System::physicalMemory(System::Unit::byte), 17179869184.0);
}

TEST_F(SystemOnFake, UptimeTruncatesTowardZero) {
    platform.boot = 1000;
    const auto at = [&](std::int64_t seconds) {
        platform.now = 1000 + seconds;
        return System::uptime();
    };
    EXPECT_EQ(at(90061), (System::Uptime{1, 1, 1, 1}));
    EXPECT_EQ(at(86399), (System::Uptime{0, 23, 59, 59}));
    EXPECT_EQ(at(-90), (System::Uptime{0, 0, -1, -30}));
    platform.boot = INT64_MIN;
    EXPECT_EQ(System::uptime(), System::Uptime{}) << "a difference that overflows";
    platform.boot.reset();
    EXPECT_EQ(System::uptime(), System::Uptime{});
}

TEST_F(SystemOnFake, ModelNameFitsOneHundredTwentyEightBytes) {
    platform.model = std::string(127, 'M');
    EXPECT_EQ(System::modelName(), std::string(127, 'M'));
    platform.model = std::string(128, 'M');
    EXPECT_EQ(System::modelName(), "");
    platform.model = std::string("Mac\xff\0tail", 8);
    EXPECT_EQ(System::modelName(), "Mac\xEF\xBF\xBD");
}

// The power limits and thermal levels each tree reads as are in its sample golden.

class OnTree {
  public:
    explicit OnTree(const FsRoot& root) : platform_(root) { setCurrentPlatform(&platform_); }
    ~OnTree() { setCurrentPlatform(nullptr); }

  private:
    LinuxPlatform platform_;
};

// A copied tree changes as tools write files: in place, by rename, or gone for a while.
TEST(LinuxPlatform, TreeFilesAreReadAsTheyStandNow) {
    test::TempDir dir;
    dir.write("proc/loadavg", "1.00 2.00 3.00 1/10 99\n");
    dir.write("proc/stat", "cpu  100 0 100 800 0 0 0 0 0 0\n");
    OnTree on(dir.roots());
    System sys;
    sys.usageCPU();
    EXPECT_EQ(System::loadAverage()[0], 1.0);
    dir.write("proc/loadavg", "4.00 5.00 6.00 1/10 99\n");
    EXPECT_EQ(System::loadAverage()[0], 4.0) << "rewritten in place";
    dir.write("proc/loadavg.new", "7.00 8.00 9.00 1/10 99\n");
    std::filesystem::rename(dir.path() / "proc/loadavg.new", dir.path() / "proc/loadavg");
    EXPECT_EQ(System::loadAverage()[0], 7.0) << "replaced by rename";

    dir.write("proc/stat", "cpu  150 0 150 900 0 0 0 0 0 0\n");
    EXPECT_EQ(sys.usageCPU().idle, 50.0);
    std::filesystem::remove(dir.path() / "proc/stat");
    EXPECT_EQ(sys.usageCPU().idle, 50.0) << "an unreadable stat repeats the last figure";
    dir.write("proc/stat", "cpu  150 0 150 1100 0 0 0 0 0 0\n");
    EXPECT_EQ(sys.usageCPU().idle, 100.0) << "measured from the last good sample";
}

TEST(LinuxPlatform, LiveSystemAgreesWithTheKernel) {
    LinuxPlatform live;
    std::string meminfo = test::readFile("/proc/meminfo");
    EXPECT_EQ(live.hostBasicInfo().max_mem, parseMemInfo(meminfo).memTotal.value_or(0) * 1024);
    EXPECT_EQ(live.bootTime(), parseProcStat(test::readFile("/proc/stat")).bootTime);
    EXPECT_GT(live.hostBasicInfo().logical_cpu, 0);
}

TEST(MemoryMapping, FivePartsOfMemTotal) {
    const std::pair<const char*, std::array<std::uint32_t, 5>> cases[] = {
        // Kernel 6.18 with 3 GiB held by a program: Active is only file cache, the
        // program's memory sits on the inactive list and must still count as used.
        {"MemTotal: 24683772 kB\nMemFree: 20612148 kB\nMemAvailable: 21181072 kB\n"
         "Active: 283108 kB\nInactive: 3611340 kB\nUnevictable: 13192 kB\n"
         "SUnreclaim: 24344 kB\nKernelStack: 1776 kB\nPageTables: 7276 kB\nZswap: 0 kB\n",
         {20612148, 568924, 3456112, 46588, 0}},
        // Before MemAvailable: free, buffers and reclaimable caches stand in for it.
        {"MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 300 kB\n"
         "SReclaimable: 60 kB\nShmem: 10 kB\nSUnreclaim: 40 kB\n",
         {100, 400, 460, 40, 0}},
        // Kernel memory is capped at what is used, and Zswap takes what it leaves.
        {"MemTotal: 1000 kB\nMemFree: 900 kB\nMemAvailable: 950 kB\nPageTables: 70 kB\n"
         "Zswap: 30 kB\n",
         {900, 50, 0, 50, 0}},
        {"MemTotal: 1000 kB\nMemFree: 100 kB\nMemAvailable: 200 kB\nKernelStack: 300 kB\n"
         "Zswap: 900 kB\n",
         {100, 100, 0, 300, 500}},
        {"MemTotal: 1000 kB\nMemFree: 600 kB\nMemAvailable: 500 kB\n", {500, 0, 500, 0, 0}},
        {"MemTotal: 1000 kB\nMemTotal: 9 kB\nMemFree: 600 kB\nMemAvailable: 500 kB\n",
         {500, 0, 500, 0, 0}},  // the first of two lines counts
        {"MemFree: 600 kB\nMemAvailable: 500 kB\n", {0, 0, 0, 0, 0}},  // no total: a zero record
        {"MemTotal: 1000 kB\nMemFree: 44O324 kB\nMemAvailable: 700 kB\n", {0, 700, 300, 0, 0}}};
    for (const auto& [meminfo, parts] : cases) {
        // With 1 kB pages, page counts are kB: free, inactive, active, wired, compressed.
        const vm_statistics64 vm = vmStatisticsFrom(parseMemInfo(meminfo), 1024);
        EXPECT_EQ((std::array{vm.free_count, vm.inactive_count, vm.active_count, vm.wire_count,
                              std::uint32_t(vm.compressor_page_count)}),
                  parts)
            << meminfo;
    }
}

// Swap from meminfo and vmstat, in a copied tree: the totals, and the pages a second
// between two samples.
TEST(SwapFigures, TotalsUsedAndPagesASecond) {
    EXPECT_EQ(parseSwapActivity("xpswpin 9\npswpin 12\npswpout 7x\n").pagesIn, 12u);
    EXPECT_EQ(parseSwapActivity("xpswpin 9\npswpin 12\npswpout 7x\n").pagesOut, std::nullopt);
    test::TempDir dir;
    dir.write("proc/meminfo", "MemTotal: 1000 kB\nSwapTotal: 2048 kB\nSwapFree: 512 kB\n");
    dir.write("proc/vmstat", "pgpgin 1\npswpin 100\npswpout 10\n");
    LinuxPlatform tree(dir.roots());
    Sampler sampler(tree);
    const Sample first = sampler.take();
    ASSERT_TRUE(first.swap);
    EXPECT_EQ(first.swap->usedBytes, 1536u * 1024);
    EXPECT_EQ(first.swap->usedRatio, 0.75);
    EXPECT_EQ(first.swap->pagesInPerSecond, std::nullopt) << "no earlier sample";
    dir.write("proc/vmstat", "pgpgin 1\npswpin 300\npswpout 10\n");
    const Sample second = sampler.take();
    EXPECT_GT(second.swap->pagesInPerSecond.value_or(0), 0);
    EXPECT_EQ(second.swap->pagesOutPerSecond, 0.0);
    dir.write("proc/meminfo", "MemTotal: 1000 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n");
    EXPECT_EQ(sampler.take().swap->usedRatio, std::nullopt) << "no swap: nothing in use of nothing";
}

// Each core's use between two takes, matched by number when a CPU goes offline between.
TEST(CoreFigures, EachCoreOverTheInterval) {
    test::TempDir dir;
    dir.write("proc/stat", "cpu  0 0 0 0\ncpu0 10 0 0 90\ncpu1 0 0 0 100\ncpu2 5 0 0 5\n");
    LinuxPlatform tree(dir.roots());
    Sampler sampler(tree);
    EXPECT_EQ(sampler.take().cpu.cores[0].usedRatio, std::nullopt) << "no earlier sample";
    dir.write("proc/stat", "cpu  0 0 0 0\ncpu0 60 0 0 140\ncpu2 5 0 0 5\n");
    const Sample s = sampler.take(nullptr, Sample::Part::cores);
    ASSERT_EQ(s.cpu.cores.size(), 2u);
    EXPECT_EQ(s.cpu.cores[0].usedRatio, 0.5);
    EXPECT_EQ(s.cpu.cores[1].cpu, 2);
    EXPECT_EQ(s.cpu.cores[1].usedRatio, std::nullopt) << "no time passed on it";
    EXPECT_FALSE(s.memory) << "only the parts asked for are read";
}

TEST(ActivityParse, PressureLinesDiskLinesAndDeviceKinds) {
    const Pressure p = parsePressure(
        "some avg10=0.18 avg60=0.34 avg300=0.10 total=159886802\n"
        "full avg10=0.18 avg60=x avg300=0.10 total=159229614\nsome avg10=9 avg60=9 avg300=9 "
        "total=9\n");
    ASSERT_TRUE(p.some);
    EXPECT_EQ(p.some->avg60, 0.34);
    EXPECT_EQ(p.some->totalMicroseconds, 159886802u) << "the first some line counts";
    EXPECT_FALSE(p.full) << "a damaged line is absent, not zero";
    EXPECT_FALSE(parsePressure("some avg10=1 avg60=1 total=1\n").some);

    const auto disks = parseDiskStats(
        "   8       0 sda 25354637 34367663 1003346126 18492372 28444756 11134226 505697032 "
        "63877960 0 9653880 82621804\n 8 1 sdb 1 2 3\n 8 0 sdc 1 2 3 4 5 6 7 8 9 10 11 12 13 14 "
        "15 16 17\n");
    ASSERT_EQ(disks.size(), 2u) << "a short line is left out";
    EXPECT_EQ(disks[0].sectorsRead, 1003346126u);
    EXPECT_EQ(disks[0].sectorsWritten, 505697032u);
    EXPECT_EQ(disks[0].ioMilliseconds, 9653880u);
    EXPECT_EQ(disks[1].name, "sdc") << "a later kernel's extra columns are ignored";

    for (const auto& [name, kind] : {std::pair{"sda", DiskKind::whole},
                                     {"sda4", DiskKind::partition},
                                     {"xvdb1", DiskKind::partition},
                                     {"nvme0n1", DiskKind::whole},
                                     {"nvme0n1p2", DiskKind::partition},
                                     {"mmcblk0", DiskKind::whole},
                                     {"mmcblk0p1", DiskKind::partition},
                                     {"dm-0", DiskKind::stacked},
                                     {"md127", DiskKind::stacked},
                                     {"loop7", DiskKind::virtualDevice},
                                     {"zram0", DiskKind::virtualDevice},
                                     {"ram15", DiskKind::virtualDevice},
                                     {"sr0", DiskKind::virtualDevice},
                                     {"vda", DiskKind::whole},
                                     {"sdaa", DiskKind::whole}})
        EXPECT_EQ(diskKind(name), kind) << name;
}

TEST(FileSystems, MountTableAsDfReadsIt) {
    const auto mounts = parseMountInfo(
        "29 1 259:2 / / rw,relatime shared:1 - ext4 /dev/dm-2 errors=remount-ro\n"
        "25 29 0:23 / /proc rw - proc proc rw\n"
        "3148 3003 260:0 / /a\\040b\\011c rw - ext4 /dev/sda rw\n"
        "3149 3004 260:0 /sub /mnt/x rw - ext4 /dev/sda rw\n"
        "31 26 0:26 / /dev/shm rw - tmpfs tmpfs rw\n"
        "32 26 0:27 / /dev/shm rw - tmpfs tmpfs rw\n"
        "194 21 0:42 / /n rw - nfs4 host:/srv/a rw\n"
        "195 21 0:42 / /m rw - nfs4 host:/srv/b rw\n"
        "1 2 x:1 / /bad rw - ext4 /dev/sdb rw\n"
        "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n");
    ASSERT_EQ(mounts.size(), 9u) << "a line without a device number is left out";
    EXPECT_EQ(mounts[2].mountPoint, "/a b\tc");
    EXPECT_EQ(mounts[3].root, "/sub");
    std::vector<std::string> shown;
    for (const MountEntry& m : dfMounts(mounts)) shown.push_back(m.mountPoint);
    EXPECT_THAT(shown, ElementsAre("/", "/a b\tc", "/dev/shm", "/n", "/m"))
        << "no pseudo file system, one mount per device, the topmost of one folder, and "
           "remote shares of one server kept apart";

    // Measured on the caller's thread: what answers from memory and is reached through
    // such file systems only.
    const auto all = parseMountInfo(
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 0:5 / /sys rw - sysfs sysfs rw\n"
        "3 2 0:6 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n4 1 0:7 / /net rw - nfs4 h:/a rw\n"
        "5 4 8:2 / /net/disk rw - xfs /dev/sda2 rw\n6 1 8:3 / /boot/efi rw - vfat /dev/sda3 rw\n"
        "7 1 0:8 / /run/user/1/doc rw - fuse.portal portal rw\n8 1 0:9 / /auto rw - autofs x rw\n"
        "9 8 8:4 / /auto/x rw - ext4 /dev/sda4 rw\n10 1 8:5 / /netx rw - btrfs /dev/sda5 rw\n");
    EXPECT_THAT(answersFromMemory(all, all), ElementsAre(1, 1, 1, 0, 0, 0, 0, 0, 0, 1))
        << "not the network, FUSE, autofs or vfat, nor what lies below them (/netx does not)";
}

// A statvfs that hangs, on a FUSE mount of the test's own: the call that starts it
// answers at its deadline, later calls do not wait on it, other mounts are measured
// meanwhile, and once it answers its space is there.
TEST(FileSystems, AHungMountIsStaleAndHoldsNothingUp) {
    QUILLO_REQUIRE(::unshare(CLONE_NEWNS) == 0 &&
                       ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0,
                   "cannot make a mount namespace (not root?)");
    test::TempDir dir;
    const std::filesystem::path mountPoint = dir.path() / "hung";
    const std::filesystem::path release = dir.path() / "release";
    std::filesystem::create_directory(mountPoint);
    struct Unmount {  // before the folder goes, whatever fails
        std::filesystem::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    test::Daemon fs(QUILLO_BIN "/stuck_fs " + test::quoted(release.string()) + " -f -s " +
                    test::quoted(mountPoint.string()));
    const auto mounted = [&] {
        for (const MountEntry& m : parseMountInfo(test::readFile("/proc/self/mountinfo"))) {
            if (m.mountPoint == mountPoint.string()) return true;
        }
        return false;
    };
    QUILLO_REQUIRE(test::waitFor(mounted), "cannot mount a FUSE file system");

    SpaceProbe probe;
    const std::vector<std::string> both = {mountPoint.string(), "/"};
    auto answers = probe.measure(both);
    EXPECT_TRUE(answers[0].stale && !answers[0].space);
    EXPECT_TRUE(!answers[1].stale && answers[1].space) << "/ is not held up behind it";
    answers = probe.measure(both);
    EXPECT_TRUE(answers[0].stale) << "no second statvfs while the first hangs";
    EXPECT_TRUE(answers[1].space);

    LinuxPlatform live;
    const Sample s = Sampler(live).take(nullptr, Sample::Part::fileSystems);
    const auto listed = std::find_if(s.fileSystems.begin(), s.fileSystems.end(),
                                     [&](const auto& f) { return f.mountPoint == mountPoint; });
    ASSERT_NE(listed, s.fileSystems.end());
    EXPECT_TRUE(listed->stale);
    ExtraRows rows(live);
    rows.refresh({PanelRow::filesystems}, Configuration(std::make_unique<SettingsSuite>("/none")));
    const auto row = std::find_if(rows.fileSystems().begin(), rows.fileSystems().end(),
                                  [&](const ExtraRow& r) { return r.title == mountPoint; });
    ASSERT_NE(row, rows.fileSystems().end());
    EXPECT_EQ(row->text, "stale") << "the panel says so, with no figure yet";

    dir.write("release", "");
    EXPECT_TRUE(
        test::waitFor([&] { return probe.measure({mountPoint.string()})[0].space.has_value(); }));
    answers = probe.measure({mountPoint.string()});
    EXPECT_FALSE(answers[0].stale);
    EXPECT_EQ(answers[0].space->size, 4096u * 1000);
    EXPECT_EQ(answers[0].space->available, 4096u * 400);
}

// A chip keeps its name when the kernel numbers the hwmon folders otherwise at the next
// boot; readings no sensor can give are absent.
TEST(Sensors, ChipsKeepTheirNamesAcrossRenumberingAndImplausibleReadingsAreAbsent) {
    const auto readings = [](const std::filesystem::path& sys) {
        LinuxPlatform tree(FsRoot{"/nonexistent", sys.string()});
        std::map<std::string, std::optional<double>> out;
        const SensorFiles::Readings r = tree.sensors().read();
        for (const auto* list : {&r.temperatures, &r.fans}) {
            for (const SensorReading& s : *list) out[s.chip + "/" + s.sensor] = s.value;
        }
        return out;
    };
    const std::filesystem::path fixture =
        std::filesystem::path(QUILLO_FIXTURES) / "linux/workstation-io-sensors/sys";
    const auto before = readings(fixture);
    EXPECT_EQ(before.at("platform_coretemp_0/temp6"), 57.0);
    EXPECT_EQ(before.at("nvme_nvme0/temp2"), std::nullopt) << "-273.15 °C";
    EXPECT_EQ(before.at("platform_nct6775_656/temp7"), std::nullopt) << "255 °C";
    EXPECT_EQ(before.at("platform_nct6775_656/fan3"), std::nullopt) << "65535 rpm";
    EXPECT_EQ(before.at("acpitz/temp1"), 27.8) << "no device link: the chip's own name";

    test::TempDir dir;
    std::filesystem::copy(
        fixture, dir.path() / "sys",
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    const std::filesystem::path hwmon = dir.path() / "sys/class/hwmon";
    const auto target = [&](const char* name) {
        return std::filesystem::read_symlink(hwmon / name);
    };
    const auto first = target("hwmon0"), third = target("hwmon2");
    std::filesystem::remove(hwmon / "hwmon0");
    std::filesystem::remove(hwmon / "hwmon2");
    std::filesystem::create_directory_symlink(third, hwmon / "hwmon0");
    std::filesystem::create_directory_symlink(first, hwmon / "hwmon2");
    EXPECT_EQ(readings(dir.path() / "sys"), before);
}

TEST(MemoryMapping, PageRoundingNeverLosesAPage) {
    const MemInfo info = parseMemInfo(
        "MemTotal: 1048572 kB\nMemFree: 1001 kB\nMemAvailable: 300017 kB\nSUnreclaim: 5 kB\n"
        "Zswap: 77 kB\n");
    const vm_statistics64 vm = vmStatisticsFrom(info, 16384);
    EXPECT_EQ(std::uint64_t(vm.free_count) + vm.inactive_count + vm.active_count + vm.wire_count +
                  vm.compressor_page_count,
              1048572u * 1024 / 16384);
}

// The machine itself: what the panel shows must be what free(1) calls used, and it must
// move when a program takes memory.
class LiveMemory : public test::PanelTest {
  protected:
    LinuxPlatform live;
    ScopedPlatform scope{live};

    double row() {
        tick();
        return bar("memoryProgressBar").current();
    }
    static double kernelUsedPercent() {
        const MemInfo info = parseMemInfo(test::readFile("/proc/meminfo"));
        return 100.0 * double(*info.memTotal - *info.memAvailable) / double(*info.memTotal);
    }
};

TEST_F(LiveMemory, RowIsWhatFreeCallsUsedAndFollowsAProgram) {
    update();
    const double before = row();
    const double kernelBefore = kernelUsedPercent();
    EXPECT_NEAR(before, kernelBefore, 1.0);

    constexpr std::size_t held = std::size_t(1) << 30;
    auto child = test::Child::holdingStill([] {
        void* block =
            ::mmap(nullptr, held, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) ::_exit(1);
        std::memset(block, 0x5a, held);
    });
    const double during = row();
    const double kernel = kernelUsedPercent();
    const test::RunResult free = test::run("free -b | awk '/^Mem:/ { print $2, $3 }'");
    child.reset();

    EXPECT_NEAR(during, kernel, 1.0);
    double total = 0, used = 0;
    ASSERT_EQ(std::sscanf(free.out.c_str(), "%lf %lf", &total, &used), 2) << free.err;
    EXPECT_NEAR(during, 100.0 * used / total, 2.0) << "free(1) and the panel disagree";
    // MemAvailable is the kernel's estimate, and reclaim may move it by a few hundred
    // megabytes meanwhile: the row must rise as the kernel's own figure rose, which
    // must show most of the child's memory for the comparison to mean anything.
    const double heldPercent = 100.0 * double(held) / System::physicalMemory(System::Unit::byte);
    ASSERT_GT(kernel - kernelBefore, 0.5 * heldPercent) << "the child holds its memory";
    EXPECT_NEAR(during - before, kernel - kernelBefore, 1.0)
        << "a program's memory must count as used";

    const System::MemoryUsage parts = System::memoryUsage();
    EXPECT_NEAR(parts.free + parts.inactive + parts.active + parts.wired + parts.compressed,
                System::physicalMemory(), 1e-6)
        << "the five figures add up to the installed memory";
}

// Figures held against the tools people check them with, on this machine, now.
TEST(DiskFigures, DamagedCountsNeverWrap) {
    EXPECT_EQ(fileSystemAttributesFrom(10, 20, 5, 0).size, 0u);
}

class LiveDisk : public test::PanelTest {
  protected:
    LinuxPlatform live;
    ScopedPlatform scope{live};
};

TEST_F(LiveDisk, RowIsDfsPercentage) {
    controller->updateDiskUsage();
    const double row = bar("hddProgressBar").current();
    const test::RunResult df = test::run("df -B1 --output=used,avail / | tail -n 1");
    double used = 0, available = 0;
    ASSERT_EQ(std::sscanf(df.out.c_str(), "%lf %lf", &used, &available), 2) << df.err;
    EXPECT_NEAR(row, 100.0 * used / (used + available), 1.0);
    struct statvfs vfs {};
    ASSERT_EQ(::statvfs("/", &vfs), 0);
    const double u = double(vfs.f_blocks - vfs.f_bfree), a = double(vfs.f_bavail);
    EXPECT_NEAR(row, 100.0 * u / (u + a), 0.01);
}

// ps(1)'s view of the processes alive in both lists.
TEST(LiveProcesses, ProcessesCommandAgreesWithPs) {
    const test::RunResult ours = test::run(QUILLO_BIN "/quillo processes --json");
    const test::RunResult ps = test::run("ps -e -o pid=,ppid=,pgid=,euid=,stat=,comm=");
    ASSERT_EQ(ours.status, 0) << ours.err;
    ASSERT_EQ(ps.status, 0) << ps.err;
    std::map<long long, nlohmann::json> byPid;
    for (auto& p : nlohmann::json::parse(ours.out)) byPid[p["pid"].get<long long>()] = p;

    std::istringstream lines(ps.out);
    std::string line;
    int compared = 0, differing = 0, otherState = 0;
    while (std::getline(lines, line)) {
        long long pid, ppid, pgid, uid;
        char stat[16];
        int consumed = 0;
        if (std::sscanf(line.c_str(), "%lld %lld %lld %lld %15s %n", &pid, &ppid, &pgid, &uid, stat,
                        &consumed) != 5)
            continue;
        const auto it = byPid.find(pid);
        if (it == byPid.end()) continue;  // started or ended between the two
        const nlohmann::json& p = it->second;
        const std::string comm = line.substr(std::size_t(consumed));
        const std::string command = p["command"];
        const int status = p["status"];
        const int expected = std::string("R").find(stat[0]) == 0                     ? 2
                             : std::string("SDI").find(stat[0]) != std::string::npos ? 3
                             : std::string("Tt").find(stat[0]) != std::string::npos  ? 4
                             : std::string("ZX").find(stat[0]) != std::string::npos  ? 5
                                                                                     : 0;
        // The record keeps 16 bytes of a name; ps shows a worker's whole name, and cuts
        // other kernel threads' at 15. A kernel worker renames itself after the work it
        // does, so only its own part ("kworker/u8:2") must agree.
        const auto own = [](const std::string& name) {
            return name.starts_with("kworker/") ? name.substr(0, name.find_first_of("-+")) : name;
        };
        const bool sameName = command == comm || own(command) == own(comm) ||
                              (command.size() == 16 && comm.starts_with(command)) ||
                              (comm.size() == 15 && command.starts_with(comm));
        ++compared;
        if (status != expected) ++otherState;  // a process may run, then sleep, in between
        if (p["ppid"] != ppid || p["pgid"] != pgid || p["uid"] != uid || !sameName) {
            ADD_FAILURE() << "ps: " << line << "\nquillo: " << p.dump();
            if (++differing > 5) break;
        }
    }
    EXPECT_LE(otherState, std::max(2, compared / 20)) << "states disagree too often";
    EXPECT_GT(compared, 5);
}

}  // namespace
