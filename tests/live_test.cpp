// Figures held against the tools people check them with, on this machine, now.
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "support/Panel.hpp"
#include "support/Run.hpp"

using namespace quillo;

namespace {

TEST(DiskFigures, RootsReserveIsNeitherUsedNorFree) {
    // 100 blocks, 40 free of which 30 may be written by anyone: used 60, available 30.
    const FileSystemAttributes a = fileSystemAttributesFrom(100, 40, 30, 4096);
    EXPECT_EQ(a.size, 90u * 4096);
    EXPECT_EQ(a.freeSize, 30u * 4096);
    const FileSystemAttributes odd = fileSystemAttributesFrom(10, 20, 5, 0);
    EXPECT_EQ(odd.size, 0u) << "damaged counts never wrap";
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
