#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "quillo/metrics/History.hpp"
#include "quillo/widget/HistoryChart.hpp"
#include "support/Require.hpp"
#include "support/Run.hpp"
#include "support/TempDir.hpp"

using namespace quillo;
using ::testing::HasSubstr;
using ::testing::Not;

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLO_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QUILLO_ASAN)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

namespace {

constexpr std::int64_t minute = 60'000;
constexpr std::int64_t day = 1440 * minute;
constexpr std::int64_t start = 1'796'000'040'000;  // a minute's start in 2026

std::array<double, historyFigureCount> valuesOf(double x) {
    std::array<double, historyFigureCount> v;
    v.fill(x);
    return v;
}

std::int64_t residentKiB() {
    const std::string status = test::readFile("/proc/self/status");
    const auto at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::atoll(status.c_str() + at + 6);
}

std::unique_ptr<HistoryWriter> opened(const std::filesystem::path& folder) {
    std::string why;
    auto writer = HistoryWriter::open(folder, &why);
    EXPECT_TRUE(writer) << why;
    return writer;
}

void flipByte(const std::filesystem::path& file, off_t at) {
    const int fd = ::open(file.c_str(), O_RDWR);
    unsigned char c = 0;
    ASSERT_EQ(::pread(fd, &c, 1, at), 1);
    c ^= 0x10;
    ASSERT_EQ(::pwrite(fd, &c, 1, at), 1);
    ::close(fd);
}

}  // namespace

TEST(History, EachUnitKeepsWhatItsScaleResolves) {
    const std::tuple<HistoryUnit, double, double> cases[] = {
        {HistoryUnit::percent, 37.25, 1.0 / 1200},
        {HistoryUnit::percent, 100.0, 0},
        {HistoryUnit::load, 3.14, 0.005},
        {HistoryUnit::celsius, -12.5, 0.005},
        {HistoryUnit::rate, 0, 0},
        {HistoryUnit::rate, 1.25e9, 1.25e9 * 0.0004},
        {HistoryUnit::rate, 999.0, 999.0 * 0.0004}};
    for (const auto& [unit, value, within] : cases)
        EXPECT_NEAR(decodeFigure(unit, encodeFigure(unit, value)), value, within) << value;
    for (const double outside : {std::nan(""), -1.0, 1e30})
        EXPECT_TRUE(std::isnan(
            decodeFigure(HistoryUnit::percent, encodeFigure(HistoryUnit::percent, outside))))
            << outside << " is stored as absent";
}

// Points a second and the minutes they make, with the busiest processes, read back in
// the order they were taken even where the wall clock went back.
TEST(History, PointsMinutesAndProcessesReadBackInTheirOrder) {
    test::TempDir dir;
    {
        auto writer = opened(dir.path());
        for (int s = 0; s < 120; ++s) {
            auto v = valuesOf(s % 60);
            v[3] = std::nan("");
            writer->add(start + s * 1000, v);
            if (s == 30)
                writer->setProcesses({{42, "firefox", "/usr/lib/firefox -P me", 12.3, 5 << 20}});
        }
        // The wall clock set back an hour: later points, earlier times.
        writer->add(start + 120'000 - 3'600'000, valuesOf(7));
    }
    HistoryReader reader(dir.path());
    const auto seconds = reader.seconds(start - day, start + day);
    ASSERT_EQ(seconds.size(), 121u);
    EXPECT_EQ(seconds.back().wallMs, start + 120'000 - 3'600'000) << "shown at its wall time";
    EXPECT_TRUE(std::is_sorted(seconds.begin(), seconds.end(), [](const auto& a, const auto& b) {
        return a.sequence < b.sequence;
    }));
    EXPECT_NEAR(seconds[59].values[0], 59, 0.01);
    EXPECT_TRUE(std::isnan(seconds[59].values[3]));

    const auto minutes = reader.minutes(start - day, start + day);
    ASSERT_GE(minutes.size(), 2u);
    const HistoryMinute& first = minutes.front();
    EXPECT_EQ(first.wallMs % minute, 0);
    EXPECT_NEAR(first.minima[0], 0, 0.01);
    EXPECT_NEAR(first.maxima[0], 59, 0.01);
    EXPECT_NEAR(first.values[0], 29.5, 0.01);
    ASSERT_EQ(first.processes.size(), 1u);
    EXPECT_EQ(first.processes[0].pid, 42);
    EXPECT_EQ(first.processes[0].name, "firefox");
    EXPECT_EQ(first.processes[0].commandLine, "/usr/lib/firefox -P me");
    EXPECT_DOUBLE_EQ(first.processes[0].cpu, 12.3);
    EXPECT_EQ(first.processes[0].rss, 5u << 20);
    EXPECT_TRUE(minutes[1].processes.empty()) << "a minute without a listing has none";
    EXPECT_TRUE(reader.problems().empty());

    // A new writer goes on after the last point.
    opened(dir.path())->add(start + 200'000, valuesOf(1));
    EXPECT_EQ(HistoryReader(dir.path()).seconds(start + 200'000, start + 200'000)[0].sequence,
              122u);
}

// What the history window draws and says: columns of the span, and at a moment the
// value, the minute's range and its processes, the figure's own order first.
TEST(History, ChartsColumnsAndMoments) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    test::TempDir dir;
    {
        auto writer = opened(dir.path());
        for (int s = 0; s < 120; ++s) {
            writer->add(start + s * 1000, valuesOf(s % 60));
            if (s == 30)
                writer->setProcesses({{1, "big", "big --cache", 1.0, 1u << 30},
                                      {2, "busy", "busy\x1b]0;", 50.0, 1u << 20}});
        }
    }
    const std::int64_t now = start + 120'000;
    const HistoryChart hour(dir.path(), 0, HistorySpan::hour, now);
    const auto columns = hour.columns(60);  // a minute each
    EXPECT_TRUE(std::isnan(columns[57].mean));
    EXPECT_NEAR(columns[58].low, 0, 0.01);
    EXPECT_NEAR(columns[58].mean, 29.5, 0.01);
    EXPECT_NEAR(columns[58].high, 59, 0.01);
    EXPECT_EQ(hour.top(), 100);

    const auto moment = hour.at(start + 30'400);
    ASSERT_TRUE(moment);
    EXPECT_EQ(moment->text, "00:54:30  30%");
    ASSERT_EQ(moment->processes.size(), 2u);
    EXPECT_EQ(moment->processes[0].name, "busy") << "the busiest first for the CPU";
    EXPECT_EQ(moment->processes[0].commandLine, "busy\\x1b]0;");
    EXPECT_EQ(moment->processes[0].cpu, "50%");
    EXPECT_EQ(moment->processes[1].memory, "1024 MB");
    EXPECT_EQ(HistoryChart(dir.path(), 1, HistorySpan::hour, now).at(start)->processes[0].name,
              "big")
        << "the largest first for memory";
    EXPECT_FALSE(hour.at(start - 600'000)) << "nothing was taken near then";

    const HistoryChart day(dir.path(), 0, HistorySpan::day, now);
    EXPECT_EQ(day.at(start + 20'000)->text, "2026-11-30 00:54  30% (0%\u201359%)");
    EXPECT_EQ(HistoryChart(dir.path(), 6, HistorySpan::month, now).top(), 100) << "load 59";
    EXPECT_TRUE(HistoryChart(dir.path() / "none", 0, HistorySpan::day, now).empty());
}

TEST(History, DamageCostsOnlyTheRecordsItTouches) {
    test::TempDir dir;
    {
        auto writer = opened(dir.path());
        for (int s = 0; s < 10; ++s) writer->add(start + s * 1000, valuesOf(s));
        EXPECT_FALSE(HistoryWriter::open(dir.path(), nullptr)) << "one writer at a time";
        std::string why;
        HistoryWriter::open(dir.path(), &why);
        EXPECT_THAT(why, HasSubstr("another program records the history"));
    }
    const std::size_t record = 16 + 2 * historyFigureCount;
    flipByte(dir.path() / "seconds.ring", off_t(4096 + 3 * record + 20));  // a bit of point 3
    auto seconds = HistoryReader(dir.path()).seconds(0, INT64_MAX);
    ASSERT_EQ(seconds.size(), 9u);
    EXPECT_EQ(seconds[1].sequence, 2u);
    EXPECT_EQ(seconds[2].sequence, 4u) << "the damaged point is skipped";

    // A damaged header: readers say so and read nothing of it; the writer sets the ring
    // aside and starts a new one.
    flipByte(dir.path() / "seconds.ring", 9);
    HistoryReader damaged(dir.path());
    EXPECT_TRUE(damaged.seconds(0, INT64_MAX).empty());
    ASSERT_EQ(damaged.problems().size(), 1u);
    EXPECT_THAT(damaged.problems()[0], HasSubstr("header is damaged"));
    EXPECT_EQ(damaged.minutes(0, INT64_MAX).size(), 1u) << "the other rings still read";
    std::string why;
    ASSERT_TRUE(HistoryWriter::open(dir.path(), &why));
    EXPECT_THAT(why, HasSubstr("set aside as seconds.ring.set-aside"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "seconds.ring.set-aside"));

    // Cut short, as a copy interrupted would leave it.
    std::filesystem::resize_file(dir.path() / "minutes.ring", 100'000);
    HistoryReader cut(dir.path());
    EXPECT_TRUE(cut.minutes(0, INT64_MAX).empty());
    EXPECT_THAT(cut.problems().at(0), HasSubstr("of a layout this version cannot read"));
}

// A month and a day at a point a minute, then a day at a point a second, in a memory
// file system (a disk would spend the test's time in the minutes' flushes): the files
// keep their size, the rings keep their last day and month, and memory stays flat.
TEST(History, AMonthKeepsItsSizeAndItsLastDayAndMonth) {
    char folder[] = "/dev/shm/quillo-history-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::filesystem::path path = folder;
    std::int64_t rssBefore = 0;
    {
        auto writer = opened(path);
        std::int64_t t = start;
        for (int m = 0; m < 31 * 1440; ++m, t += minute) {
            writer->add(t, valuesOf(m % 100));
            if (m == 1440) rssBefore = residentKiB();
        }
        for (int s = 0; s < 86'400 + 60; ++s, t += 1000) writer->add(t, valuesOf(1));
        // Under AddressSanitizer, its allocator's own bookkeeping grows; nothing of ours.
        if (!sanitized) {
            EXPECT_LT(residentKiB() - rssBefore, 1024) << "KiB grown while recording";
        }
    }
    std::uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(path)) bytes += entry.file_size();
    EXPECT_LE(bytes, 16u << 20);
    HistoryReader reader(path);
    EXPECT_EQ(reader.seconds(0, INT64_MAX).size(), 86'400u);
    EXPECT_EQ(reader.minutes(0, INT64_MAX).size(), 43'200u);
    std::filesystem::remove_all(path);
}

// `quillo record` killed at random moments, again and again: every point it wrote before
// is read, the history is never unreadable, and the sequence never repeats.
TEST(History, KilledWritersNeverLeaveItUnreadable) {
    test::TempDir home;
    const std::string program = std::string(QUILLO_BIN) + "/quillo";
    const std::string state = home.path().string();
    std::mt19937 random(7);
    const auto written = [&] {
        return HistoryReader(home.path() / "quillo" / "history").seconds(0, INT64_MAX).size();
    };
    const auto start = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("XDG_STATE_HOME", state.c_str(), 1);
            ::execl(program.c_str(), program.c_str(), "record", "--interval", "0.1",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return child;
    };
    const auto stop = [](pid_t child) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    };
    // How long a recorder takes to its first point here (a sanitized build takes ten
    // times as long): the kills fall from half of that to well past it, so that they
    // hit the opening, the first point and the ones after.
    const auto begun = std::chrono::steady_clock::now();
    const pid_t first = start();
    for (int i = 0; i < 1000 && written() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop(first);
    const auto ready = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - begun)
                           .count();
    ASSERT_GT(written(), 0u) << "no point in five seconds";
    for (int kill = 0; kill < (sanitized ? 100 : 200); ++kill) {
        const pid_t child = start();
        std::this_thread::sleep_for(std::chrono::milliseconds(
            ready / 2 + std::int64_t(random() % std::uint32_t(ready + 150))));
        stop(child);
    }
    HistoryReader reader(home.path() / "quillo" / "history");
    const auto points = reader.seconds(0, INT64_MAX);
    EXPECT_TRUE(reader.problems().empty()) << reader.problems().front();
    EXPECT_GT(points.size(), 30u);
    for (std::size_t i = 1; i < points.size(); ++i)
        ASSERT_LT(points[i - 1].sequence, points[i].sequence);
    const test::RunResult r = test::run("XDG_STATE_HOME=" + test::quoted(state) + " " + program +
                                        " history memory --since 1h --csv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("time,memory\n"));
}

// A disk too small for the rings: a clear refusal, and nothing half made left behind.
TEST(History, AFullDiskRefusesClearly) {
    test::TempDir dir;
    const test::RunResult r = test::run("unshare -m sh -c 'mount -t tmpfs -o size=6m none " +
                                        test::quoted(dir.path().string()) +
                                        " && XDG_STATE_HOME=" + test::quoted(dir.path().string()) +
                                        " " QUILLO_BIN "/quillo record; echo status=$?; ls -A " +
                                        test::quoted(dir.path().string()) + "/quillo/history'");
    QUILLO_REQUIRE(r.out.find("status=") != std::string::npos, "no mount namespace: " + r.err);
    EXPECT_THAT(r.out, HasSubstr("status=1"));
    EXPECT_THAT(r.err, HasSubstr("No space left on device"));
    EXPECT_THAT(r.out, Not(HasSubstr(".new")));
}

// What a machine saw offline, turned into Prometheus blocks by promtool.
TEST(History, OpenMetricsBackfillsPrometheus) {
    test::TempDir home;
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    // promtool cuts blocks at every second UTC hour: the points end before one, so that
    // they make one block and one count.
    constexpr std::int64_t block = 2 * 3'600'000;
    const std::int64_t end = now % block < 130'000 ? now - now % block - 1000 : now;
    {
        auto writer = opened(home.path() / "quillo" / "history");
        for (int s = 120; s > 0; --s) writer->add(end - s * 1000, valuesOf(s % 50));
    }
    const std::string state = "XDG_STATE_HOME=" + test::quoted(home.path().string()) + " ";
    const test::RunResult r =
        test::run(state + QUILLO_BIN "/quillo history --openmetrics --since 5m > " +
                  test::quoted((home.path() / "om.txt").string()) +
                  " && promtool tsdb create-blocks-from openmetrics " +
                  test::quoted((home.path() / "om.txt").string()) + " " +
                  test::quoted((home.path() / "tsdb").string()));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(
        test::readFile(home.path() / "om.txt"),
        HasSubstr("quillo_pressure_ratio{resource=\"io\",kind=\"some\",window=\"10s\"} 0.2"));
    EXPECT_THAT(r.out, HasSubstr(" 1920 ")) << "120 points of 16 figures";
}
