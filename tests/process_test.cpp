#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <set>

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "quillo/metrics/ProcessAPI.hpp"
#include "quillo/metrics/ProcessUsage.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/platform/linux/Processes.hpp"
#include "quillo/widget/ProcessTable.hpp"
#include "support/Child.hpp"
#include "support/FakePlatform.hpp"
#include "support/Run.hpp"

using namespace quillo;
using ::testing::HasSubstr;

namespace {

std::string elfHeader(int elfClass, unsigned machine, bool bigEndian = false) {
    std::string h(
        "\x7f"
        "ELF",
        4);
    h += char(elfClass);
    h += char(bigEndian ? 2 : 1);
    h.resize(18, '\0');
    h += bigEndian ? char(machine >> 8) : char(machine & 0xff);
    h += bigEndian ? char(machine & 0xff) : char(machine >> 8);
    h.resize(64, '\0');
    return h;
}

TEST(ProcessParse, StatesUidAndElf) {
    kinfo_proc info;
    for (const auto& [letters, state] : {std::pair{"R", SRUN},
                                         {"SDI", SSLEEP},
                                         {"Tt", SSTOP},
                                         {"ZX", SZOMB},
                                         {"WP", std::int8_t{0}}}) {
        for (const char* l = letters; *l; ++l) {
            ASSERT_TRUE(parseProcessStat(std::string("1 (x) ") + *l + " 0 0", info));
            EXPECT_EQ(info.p_stat, state) << *l;
        }
    }
    EXPECT_EQ(parseEffectiveUid("Name:\tx\nUid:\t1000\t4294967294\t1000\t1000\n"), 4294967294u);
    EXPECT_EQ(parseEffectiveUid("Name:\tx\nUid:\t1000\n"), std::nullopt);
    const std::tuple<int, unsigned, bool, cpu_type_t> elves[] = {
        {2, 62, false, CPU_TYPE_X86_64}, {1, 3, false, CPU_TYPE_I386},
        {2, 183, false, CPU_TYPE_ARM64}, {1, 40, false, CPU_TYPE_ARM},
        {1, 20, true, CPU_TYPE_POWERPC}, {2, 21, true, CPU_TYPE_POWERPC64}};
    for (const auto& [elfClass, machine, bigEndian, type] : elves) {
        EXPECT_EQ(cpuTypeOfElf(elfHeader(elfClass, machine, bigEndian)), type) << machine;
    }
    EXPECT_EQ(cpuTypeOfElf(elfHeader(2, 243)), std::nullopt) << "a machine without a CPU type";
    EXPECT_EQ(cpuTypeOfElf("#!/bin/sh\n echo not an executable\n"), std::nullopt);
    ASSERT_TRUE(parseProcessStat("7 (seventeen bytes!!) I 2 0", info));
    EXPECT_STREQ(info.p_comm, "seventeen bytes!") << "never longer than 16 bytes";
    for (const char* bad :
         {"", "12 (x", "12 x) S 1 1", "12 (x) S", "12 (x) SS 1 1", "12 (x) S a 1"})
        EXPECT_FALSE(parseProcessStat(bad, info)) << bad;
}

// Long enough a list for helper threads, which must keep the kernel's order.
TEST(ProcessAPIOnFake, RecordsInKernelOrderWithWidths) {
    test::FakePlatform platform;
    EXPECT_TRUE(ProcessAPI::list().empty()) << "no task list: an empty array";
    platform.pids.emplace();
    for (std::int32_t pid = 5000; pid > 0; --pid) {
        platform.pids->push_back(pid);
        platform.processes[pid] = kinfo_proc{"p", 0, SRUN, pid + 1, 0, 0};
    }
    platform.processes[5000] = kinfo_proc{"daemon\xff", 0, SSLEEP, -1, -2, 4294967294u};
    platform.cpuTypes[5000] = CPU_TYPE_X86_64;
    platform.processes.erase(4999);  // ended meanwhile
    const auto list = ProcessAPI::list();
    ASSERT_EQ(list.size(), 5000u);
    EXPECT_EQ(list[0], (ProcessInfo{5000, -1, -2, 4294967294, "daemon\xEF\xBF\xBD", CPU_TYPE_X86_64,
                                    SSLEEP}))
        << "uid zero-extended, ppid and pgid sign-extended";
    EXPECT_EQ(list[1], (ProcessInfo{4999, 0, 0, 0, "", -1, 0}));
    for (std::size_t i = 2; i < list.size(); ++i) {
        ASSERT_EQ(list[i].pid, 5000 - std::int64_t(i));
        ASSERT_EQ(list[i].ppid, list[i].pid + 1);
    }
}

class ProcessTree : public ::testing::Test {
  protected:
    test::TempDir dir;

    void process(int pid, const std::string& stat, const std::string& uidLine,
                 const std::optional<std::string>& exe) {
        const std::string base = "proc/" + std::to_string(pid) + "/";
        dir.write(base + "stat", stat);
        if (!uidLine.empty()) dir.write(base + "status", "Name:\tx\nState:\tS\n" + uidLine + "\n");
        if (exe) dir.write(base + "exe", *exe);
    }
    std::vector<ProcessInfo> list() {
        LinuxPlatform linux(dir.roots());
        ScopedPlatform scope(linux);
        auto l = ProcessAPI::list();
        std::sort(l.begin(), l.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
        return l;
    }
};

TEST_F(ProcessTree, OddNamesZombiesKernelThreadsAndVanishedProcesses) {
    process(1, "1 (systemd) S 0 1 1 0 -1 4194560", "Uid:\t0\t0\t0\t0", elfHeader(2, 62));
    process(2, "2 (kthreadd) S 0 0 0 0 -1 2129984", "", std::nullopt);
    process(584, "1020 ((a b ) ( c d) ) R 1 584 584 0 -1 4194304", "Uid:\t1000\t1000\t1000\t1000",
            elfHeader(1, 3));
    process(600, "600 (defunct) Z 584 584 584 0 -1 4227084", "Uid:\t1000\t1000\t1000\t1000",
            std::nullopt);
    process(700, "700 (nfsnobody) S 1 700 700 0 -1 4194560",
            "Uid:\t4294967294\t4294967294\t4294967294\t4294967294", elfHeader(2, 183));
    process(800, "", "", std::nullopt);  // ended between the listing and the reads
    dir.write("proc/self", "not a process");
    dir.write("proc/meminfo", "MemTotal: 1 kB\n");
    const auto l = list();
    ASSERT_EQ(l.size(), 6u);
    EXPECT_EQ(l[0], (ProcessInfo{1, 0, 1, 0, "systemd", CPU_TYPE_X86_64, SSLEEP}));
    EXPECT_EQ(l[1], (ProcessInfo{2, 0, 0, 0, "kthreadd", -1, SSLEEP})) << "a kernel thread";
    EXPECT_EQ(l[2], (ProcessInfo{584, 1, 584, 1000, "(a b ) ( c d) ", CPU_TYPE_I386, SRUN}))
        << "the pid is the directory's, whatever the file says";
    EXPECT_EQ(l[3], (ProcessInfo{600, 584, 584, 1000, "defunct", -1, SZOMB}));
    EXPECT_EQ(l[4].uid, 4294967294);
    EXPECT_EQ(l[4].arch, CPU_TYPE_ARM64);
    EXPECT_EQ(l[5], (ProcessInfo{800, 0, 0, 0, "", -1, 0}));
}

TEST_F(ProcessTree, OnePathNamingTwoExecutablesIsTwoExecutables) {
    // Both links say "bin/tool", as one path does in two mount namespaces, but name a
    // 64-bit tool in one and a 32-bit one in the other.
    for (const auto& [pid, header] : {std::pair{10, elfHeader(2, 62)}, {11, elfHeader(1, 3)}}) {
        const std::string base = "proc/" + std::to_string(pid);
        process(pid, std::to_string(pid) + " (tool) S 1 1 1 0 -1 0", "Uid:\t0\t0\t0\t0",
                std::nullopt);
        dir.write(base + "/bin/tool", header);
        std::filesystem::create_symlink("bin/tool", dir.path() / base / "exe");
    }
    const auto l = list();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].arch, CPU_TYPE_X86_64);
    EXPECT_EQ(l[1].arch, CPU_TYPE_I386);
}

TEST(ProcessesCommand, HostileNamesStayVisibleAndValidJson) {
    test::TempDir dir;
    const std::pair<int, std::string> names[] = {{66, "evil\x1b[2J\x07\\x\xc2\x9b"},
                                                 {67,
                                                  "\xe2\x80\xae"
                                                  "gpj.exe\x7f"},
                                                 {68,
                                                  "\xef\xbb\xbf"
                                                  "a\xe2\x80\xa8"
                                                  "b"}};
    for (const auto& [pid, name] : names) {
        dir.write("proc/" + std::to_string(pid) + "/stat",
                  std::to_string(pid) + " (" + name + ") S 1 66 66 0 -1 0");
        dir.write("proc/" + std::to_string(pid) + "/status", "Uid:\t0\t0\t0\t0\n");
    }
    const std::string roots = dir.rootOptions();
    const test::RunResult table = test::run(QUILLO_BIN "/quillo processes" + roots);
    ASSERT_EQ(table.status, 0) << table.err;
    for (const char* shown :
         {"evil\\x1b[2J\\x07\\\\x\\u009b", "\\u202egpj.exe\\x7f", "\\ufeffa\\u2028b"}) {
        EXPECT_THAT(table.out, HasSubstr(shown));
    }
    const test::RunResult json = test::run(QUILLO_BIN "/quillo processes --json" + roots);
    ASSERT_EQ(json.status, 0) << json.err;
    for (const char* raw : {"\x1b", "\x7f", "\xc2\x9b", "\xe2\x80\xae", "\xef\xbb\xbf"}) {
        EXPECT_EQ(table.out.find(raw), std::string::npos) << "raw in the table";
        EXPECT_EQ(json.out.find(raw), std::string::npos) << "raw in the JSON";
    }
    const auto parsed = nlohmann::json::parse(json.out);
    ASSERT_EQ(parsed.size(), 3u);
    std::set<std::string> commands;
    for (const auto& p : parsed) commands.insert(p["command"]);
    EXPECT_EQ(commands, (std::set<std::string>{names[0].second, names[1].second, names[2].second}));
}

TEST(ProcessParse, UsageFiguresAfterTheLastParenthesisAndResidentPagesFromStatm) {
    // utime 250, stime 50, starttime 9000; the name holds ") R 1 ".
    const std::string line =
        "42 (a) R 1 ) S 1 42 42 0 -1 4194560 10 0 0 0 250 50 0 0 20 0 3 0 "
        "9000 123456789 300 18446744073709551615";
    ProcessStatFigures f;
    ASSERT_TRUE(parseProcessStatFigures(line, f));
    EXPECT_EQ(f.comm, "a) R 1 ");
    EXPECT_EQ(f.userTicks + f.systemTicks, 300u);
    EXPECT_EQ(f.startTime, 9000u);
    for (const char* damaged : {"42 (a) S 1 42 42 0 -1 4194560 10 0 0 0 250 50", "42 a S 1",
                                "42 (a) S 1 42 42 0 -1 0 10 0 0 0 2x0 50 0 0 20 0 3 0 9000 1 300"})
        EXPECT_FALSE(parseProcessStatFigures(damaged, f)) << damaged;
    EXPECT_EQ(parseStatmResidentPages("5242 16516 1089 1 0 16794 0\n"), 16516u);
    for (const char* damaged : {"", "5242", "5242 -3 1", "5242 1x 1"})
        EXPECT_EQ(parseStatmResidentPages(damaged), std::nullopt) << damaged;
}

// Captured on 6.18 from a program that touched its memory from both CPUs: stat's rss
// says 16409 pages, statm and status the exact 16516.
TEST(ProcessUsageOnTree, ResidentMemoryIsStatmsNotStats) {
    const std::string tree = std::string(QUILLO_FIXTURES) + "/linux/server-many-interfaces";
    LinuxPlatform linux({tree + "/proc", tree + "/sys"});
    ScopedPlatform scope(linux);
    const auto all = ProcessUsageReader().sample();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].pid, 6569);
    EXPECT_EQ(all[0].command, "python3");
    EXPECT_EQ(all[0].rss, 16516u * std::uint64_t(::sysconf(_SC_PAGESIZE)));
}

ProcessUsageSample usageSample(std::int32_t pid, std::uint64_t start, double cpuSeconds,
                               std::uint64_t rss, const char* name) {
    ProcessUsageSample s;
    s.pid = pid;
    s.startTime = start;
    s.cpuNanoseconds = std::uint64_t(cpuSeconds * 1e9);
    s.residentBytes = rss;
    std::strncpy(s.comm, name, MAXCOMLEN);
    return s;
}

TEST(ProcessUsageOnFake, CpuOverTheIntervalAndAReusedPidStartsAfresh) {
    test::FakePlatform fake;
    fake.usage = {usageSample(10, 500, 100.0, 1 << 20, "old"),
                  usageSample(11, 600, 5.0, 8 << 20, "steady")};
    ProcessUsageReader reader;
    const auto t0 = ProcessUsageReader::Clock::time_point{} + std::chrono::hours(1);
    for (const ProcessUsage& p : reader.sample(t0)) EXPECT_EQ(p.cpu, 0) << "no previous sample";

    // Two seconds on: pid 10 is another process now, 11 used 3 s over four threads' 2 s.
    fake.usage = {usageSample(10, 900, 0.5, 1 << 20, "new"),
                  usageSample(11, 600, 8.0, 8 << 20, "steady"),
                  usageSample(12, 950, 1.0, 2 << 20, "born")};
    const auto now = reader.sample(t0 + std::chrono::seconds(2));
    ASSERT_EQ(now.size(), 3u);
    EXPECT_DOUBLE_EQ(now[0].cpu, 25.0) << "the new process's own half second, not 0.5 - 100";
    EXPECT_DOUBLE_EQ(now[1].cpu, 150.0);
    EXPECT_DOUBLE_EQ(now[2].cpu, 50.0) << "born since: all its time is in the interval";
    EXPECT_EQ(busiest(now, UsageOrder::cpu, 2)[0].command, "steady");
    EXPECT_EQ(busiest(now, UsageOrder::memory, 5).back().command, "new");

    fake.usage.reset();
    EXPECT_TRUE(reader.sample().empty());
    EXPECT_FALSE(reader.primed()) << "a failed read leaves nothing to measure against";
}

// Thirty processes whose names mix cases; pid 105 is a kernel thread, without a
// command line. The table reads command lines only for what is in view or filtered.
TEST(ProcessTable, SortsFiltersAndKeepsTheHighlightOnItsProcess) {
    test::FakePlatform fake;
    const char* names[] = {"gamma", "Beta", "alpha", "delta", "Epsilon"};
    const auto processes = [&](std::uint64_t pid110Start, double seconds) {
        std::vector<ProcessUsageSample> all;
        for (std::int32_t pid = 100; pid < 130; ++pid)
            all.push_back(usageSample(pid, pid == 110 ? pid110Start : 1, seconds * (pid % 7),
                                      std::uint64_t(pid % 11) << 20, names[pid % 5]));
        return all;
    };
    fake.usage = processes(1, 1);
    std::map<std::int64_t, int> reads;
    int generation = 0;
    ProcessTable table([&](std::int64_t pid) -> std::optional<std::string> {
        ++reads[pid];
        if (pid == 105) return std::nullopt;
        return "/usr/bin/CMD-" + std::to_string(pid) + " #" + std::to_string(generation);
    });
    table.refresh();
    EXPECT_EQ(fake.usageReads, 0) << "closed, it reads nothing";
    table.setHeight(5);
    table.setOpen(true);
    EXPECT_EQ(table.rows().size(), 30u);
    EXPECT_EQ(reads.size(), 5u) << "only the lines in view";

    const auto pids = [&] {
        std::vector<std::int64_t> out;
        for (const auto& row : table.rows()) out.push_back(row.usage.pid);
        return out;
    };
    table.setSort(ProcessTable::Sort::name);
    EXPECT_EQ(table.rows().front().usage.command, "alpha");
    EXPECT_EQ(table.rows()[6].usage.command, "Beta") << "letters compared in either case";
    table.setSort(ProcessTable::Sort::memory);
    EXPECT_EQ(pids()[0], 109) << "10 MiB, lowest pid of the largest";
    table.move(3);
    const std::int64_t chosen = table.selectedRow()->usage.pid;
    table.setSort(ProcessTable::Sort::pid);
    EXPECT_EQ(table.selectedRow()->usage.pid, chosen) << "the highlight follows its process";
    EXPECT_LE(table.first(), table.selected());
    EXPECT_LT(table.selected(), table.first() + 5) << "and stays in view";

    // A second sample gives CPU figures; pid 110 is another process now, and in view.
    fake.usage = processes(2, 3);
    ++generation;
    table.moveToEnd(false);
    table.move(12);
    table.refresh();
    EXPECT_EQ(*table.rows()[10].commandLine, "/usr/bin/CMD-110 #1") << "read anew";
    table.setSort(ProcessTable::Sort::cpu);
    EXPECT_EQ(pids()[0], 110) << "new since: all its 15 s count, against the others' 12";
    EXPECT_EQ(pids()[1], 118) << "of those with 12 s, the largest in memory";

    table.setFilter("cmd-12");
    EXPECT_EQ(table.rows().size(), 10u) << "by command line, letters in either case";
    table.setFilter("EPSILON");
    EXPECT_EQ(table.rows().size(), 6u) << "by name";
    table.setFilter("no such process");
    EXPECT_TRUE(table.rows().empty());
    table.moveToEnd(true);
    table.move(1);
    EXPECT_EQ(table.selectedRow(), nullptr) << "an empty table has nothing to end";

    table.setFilter({});
    table.setOpen(false);
    table.setOpen(true);
    ASSERT_EQ(table.rows().size(), 30u);
    for (const auto& row : table.rows()) EXPECT_EQ(row.usage.cpu, 0) << "not measured closed";
}

using test::Child;

// A listed process is signalled only while its pid is still that process.
TEST(ProcessUsageLive, SignalsGoOnlyToTheProcessListed) {
    const auto child = Child::holdingStill([] {});
    LinuxPlatform platform;
    const auto all = ProcessUsageReader().sample();
    const auto it = std::find_if(all.begin(), all.end(),
                                 [&](const ProcessUsage& p) { return p.pid == child->pid(); });
    ASSERT_NE(it, all.end());
    EXPECT_EQ(platform.processes().signal(child->pid(), it->startTime + 1, SIGTERM), ESRCH)
        << "another start time: another process under the same pid";
    EXPECT_EQ(::kill(child->pid(), 0), 0) << "left alone";
    EXPECT_EQ(platform.processes().signal(child->pid(), it->startTime, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child->pid(), &status, 0), child->pid());
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(platform.processes().signal(child->pid(), it->startTime, SIGTERM), ESRCH) << "gone";
}

// A spinning child's figure is what its own stat counted over the same second: on a
// loaded machine it may get less than a core, and the two must still agree.
TEST(ProcessUsageLive, SpinningChildAgreesWithItsOwnStat) {
    const auto spinner = Child::spinning();
    const auto ticks = [&] {
        std::istringstream stat(
            test::readFile("/proc/" + std::to_string(spinner->pid()) + "/stat"));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 1; stat >> field; ++i) {
            if (i == 14) utime = std::stod(field);
            if (i == 15) stime = std::stod(field);
        }
        return utime + stime;
    };
    ProcessUsageReader reader;
    const auto t0 = ProcessUsageReader::Clock::now();
    reader.sample(t0);
    const double before = ticks();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double after = ticks();
    const auto t1 = ProcessUsageReader::Clock::now();
    const auto all = reader.sample(t1);
    const auto it = std::find_if(all.begin(), all.end(),
                                 [&](const ProcessUsage& p) { return p.pid == spinner->pid(); });
    ASSERT_NE(it, all.end());
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    const double expected = 100.0 * (after - before) / double(::sysconf(_SC_CLK_TCK)) / seconds;
    EXPECT_NEAR(it->cpu, expected, 3.0) << "a tick each side, and the reads' moments";
    EXPECT_GT(it->cpu, 20.0) << "it spun";
}

// Children that touch their memory and then hold still, so that the kernel's count of
// their pages no longer moves: the library, top and ps must then agree to the byte.
TEST(ProcessUsageLive, StillChildrenAgreeWithPsExactlyAndTheLargestIsFirst) {
    std::vector<std::unique_ptr<Child>> children;
    for (const std::size_t megabytes : {3u, 40u, 512u}) {
        children.push_back(Child::holdingStill([&] {
            void* block = ::mmap(nullptr, megabytes << 20, PROT_READ | PROT_WRITE,
                                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            std::memset(block, 1, megabytes << 20);
        }));
    }

    std::string pids;
    for (const auto& child : children)
        pids += (pids.empty() ? "" : ",") + std::to_string(child->pid());
    const auto psNow = [&] {
        std::map<long long, std::uint64_t> ps;
        std::istringstream lines(test::run("ps -o pid=,rss= -p " + pids).out);
        for (long long pid, kb; lines >> pid >> kb;) ps[pid] = std::uint64_t(kb) * 1024;
        return ps;
    };
    // Still means ps says the same before and after the library and top read: a child
    // whose runtime still touches a page now and then is read again, not compared loosely.
    std::map<long long, std::uint64_t> ps, before;
    std::vector<ProcessUsage> all;
    test::RunResult top;
    for (int attempt = 0; attempt < 5 && (ps.empty() || ps != before); ++attempt) {
        before = psNow();
        all = ProcessUsageReader().sample();
        top = test::run(QUILLO_BIN "/quillo top --by memory -n 100000 --interval 0.1 --json");
        ps = psNow();
    }
    ASSERT_EQ(ps.size(), 3u);
    ASSERT_EQ(ps, before) << "the children held still";
    ASSERT_EQ(top.status, 0) << top.err;
    std::map<long long, std::uint64_t> library, command;
    for (const ProcessUsage& p : all) library[p.pid] = p.rss;
    for (const auto& p : nlohmann::json::parse(top.out)) {
        EXPECT_TRUE(p.contains("user") && p.contains("command") && p.contains("cpu"));
        command[p["pid"].get<long long>()] = p["rss"].get<std::uint64_t>();
    }
    for (const auto& [pid, bytes] : ps) {
        EXPECT_EQ(library[pid], bytes) << pid;
        EXPECT_EQ(command[pid], bytes) << pid;
    }
    // First, unless another program (a test beside this one) holds more.
    const pid_t largest = children.back()->pid();
    const auto first = busiest(all, UsageOrder::memory, 1)[0];
    EXPECT_TRUE(first.pid == largest || first.rss > library[largest]);
}

// A process that made itself non-dumpable has its procfs files given to root; its user
// is still its own, as ps says.
TEST(ProcessUsageLive, NonDumpableProcessKeepsItsUser) {
    const auto agent = Child::holdingStill([] {
        if (::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0) ::_exit(1);
        ::prctl(PR_SET_DUMPABLE, 0);
    });
    const std::uint32_t expected = ::geteuid() == 0 ? 65534 : ::geteuid();
    struct stat st {};
    ASSERT_EQ(::stat(("/proc/" + std::to_string(agent->pid()) + "/stat").c_str(), &st), 0);
    ASSERT_EQ(st.st_uid, 0u) << "the kernel hands the files to root";
    const auto all = ProcessUsageReader().sample();
    const auto it = std::find_if(all.begin(), all.end(),
                                 [&](const ProcessUsage& p) { return p.pid == agent->pid(); });
    ASSERT_NE(it, all.end());
    EXPECT_EQ(it->uid, expected);
}

// Helper threads are a speed-up: where none may be made, the listing is still whole.
TEST(ProcessesCommand, ListsEveryProcessWhereNoThreadMayBeStarted) {
    test::TempDir dir;
    constexpr int count = 1500;  // enough for the listing to want helpers
    for (int pid = 1; pid <= count; ++pid) {
        const std::string base = "proc/" + std::to_string(pid) + "/";
        dir.write(base + "stat", std::to_string(pid) + " (p) S 1 1 1 0 -1 0");
        dir.write(base + "status", "Uid:\t0\t0\t0\t0\n");
    }
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    // The limit binds only users other than root, and counts threads as processes.
    // A sanitizer's leak check at exit needs a thread of its own, which cannot be had here.
    const std::string user =
        std::string("ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" ") +
        (::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "");
    const test::RunResult r = test::run(
        user + "prlimit --nproc=0 " QUILLO_BIN "/quillo processes --json" + dir.rootOptions());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out).size(), std::size_t(count));
}

}  // namespace
