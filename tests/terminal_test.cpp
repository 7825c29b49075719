#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>

#include "common/SettingsWatcher.hpp"
#include "quillo/metrics/History.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/settings/SuiteWriter.hpp"
#include "quillo/ui/Theme.hpp"
#include "support/Child.hpp"
#include "support/FakePlatform.hpp"
#include "support/Run.hpp"
#include "support/TempDir.hpp"
#include "terminal/Ansi.hpp"
#include "terminal/CellCanvas.hpp"
#include "terminal/ProcessView.hpp"
#include "terminal/TerminalPanel.hpp"

using namespace quillo;
using ::testing::HasSubstr;

namespace {

std::string repeat(const char* s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// The bar's geometry, drawn into cells of eight steps each.
TEST(CellCanvas, BarsInEighthsOfACell) {
    const std::string track = repeat("\u2591", 20), full = repeat("\u2588", 20);
    const auto drawn = [](double current, double minimum = 0, double maximum = 100,
                          bool broken = false) {
        ProgressBar bar;
        prepareForCells(bar);
        bar.setMinimum(minimum);
        bar.setMaximum(maximum);
        if (broken) bar.setBorderWidth(std::nan(""));
        bar.setCurrent(current);
        return renderBar(bar, 20, ColorMode::none);
    };
    EXPECT_EQ(drawn(0), track) << "the track alone";
    EXPECT_EQ(drawn(100), full);
    EXPECT_EQ(drawn(250), full) << "never past the end";
    // The stroke's centre ends at 152 × 0.375 + 4 = 61 eighths; its round cap adds 4.
    EXPECT_EQ(drawn(37.5), repeat("\u2588", 8) + "\u258F" + repeat("\u2591", 11));
    EXPECT_EQ(drawn(30, 30), track) << "current equal to a non-zero minimum";
    for (const double current : {60.0, 20.0, std::nan("")})
        EXPECT_EQ(drawn(current, 30, 30), track) << current;
    EXPECT_EQ(drawn(std::nan("")), track);
    EXPECT_EQ(drawn(50, 0, 0), track) << "an infinite fraction is not a full bar";
    EXPECT_EQ(drawn(50, 0, 100, true), std::string(20, ' ')) << "a broken bar draws nothing";
}

TEST(Ansi, ColourFallbacks) {
    EXPECT_EQ(colorModeFor(nullptr, "truecolor", true), ColorMode::truecolor);
    EXPECT_EQ(colorModeFor(nullptr, "24bit", true), ColorMode::truecolor);
    EXPECT_EQ(colorModeFor(nullptr, nullptr, true), ColorMode::palette256);
    EXPECT_EQ(colorModeFor("1", "truecolor", true), ColorMode::none) << "NO_COLOR wins";
    EXPECT_EQ(colorModeFor("", nullptr, true), ColorMode::palette256)
        << "an empty NO_COLOR is unset";
    EXPECT_EQ(colorModeFor(nullptr, "truecolor", false), ColorMode::none) << "not a terminal";
}

TEST(Keys, SequencesControlsAndCharacters) {
    const std::vector<Key> keys =
        parseKeys("\x1b[A\x1b[B\x1b[5~\x1b[6~\x1bOH\x1b[4~\r\x7f\x03\xc3\xa9k\x1b");
    const std::vector<Key::Kind> kinds = {
        Key::up,    Key::down,      Key::pageUp, Key::pageDown,  Key::home,      Key::end,
        Key::enter, Key::backspace, Key::other,  Key::character, Key::character, Key::escape};
    ASSERT_EQ(keys.size(), kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i) EXPECT_EQ(keys[i].kind, kinds[i]) << i;
    EXPECT_EQ(keys[8].text, "\x03") << "a control the panel still answers";
    EXPECT_EQ(keys[9].text, "\xc3\xa9") << "a character whole, for the filter";
    EXPECT_TRUE(parseKeys("\x1b[1").empty()) << "a sequence cut off is no key";
}

// The table fits any terminal: exactly the lines it is given, none wider than the width,
// in every mode, whatever the names and command lines hold.
TEST(ProcessView, FitsEveryWidthAndHeight) {
    test::FakePlatform fake;
    fake.usage.emplace();
    for (std::int32_t pid = 1; pid <= 40; ++pid) {
        ProcessUsageSample& s = fake.usage->emplace_back();
        s.pid = pid * 997;
        s.startTime = 1;
        s.residentBytes = std::uint64_t(pid) << 28;
        std::strncpy(s.comm, pid % 2 ? "\xe6\xbc\xa2\xe5\xad\x97-wide" : "tab\there", MAXCOMLEN);
    }
    ProcessTable table([](std::int64_t pid) -> std::optional<std::string> {
        if (pid % 3 == 0) return std::nullopt;
        return "/opt/a/very/long/path/\xe5\xad\x97/to/a/program --with \x1b[31m arguments " +
               std::string(200, 'x');
    });
    ProcessView view(table, {}, {});
    view.open();
    const auto check = [&](const char* mode) {
        for (const int width : {20, 29, 33, 40, 80, 300}) {
            for (const int height : {3, 4, 8, 24, 50}) {
                const auto lines = view.lines(width, height, {ColorMode::truecolor, true});
                ASSERT_EQ(lines.size(), std::size_t(height)) << mode << " " << width;
                for (const std::string& line : lines) {
                    EXPECT_LE(displayWidth(line), width) << mode << " " << height << ": " << line;
                    EXPECT_EQ(line.find("\x1b[31m"), std::string::npos) << "escaped as text";
                }
            }
        }
    };
    check("browsing");
    view.handle({Key::character, "/"});
    view.handle({Key::character, "\xe5\xad\x97"});
    check("filtering");
    view.handle({Key::enter, {}});
    view.handle({Key::character, "K"});
    check("asking");
    view.handle({Key::character, "y"});
    check("with the refusal");
    EXPECT_THAT(view.lines(80, 8, {}).at(6), ::testing::HasSubstr("SIGKILL not sent to"))
        << "without a sender nothing is sent";
}

TEST(TerminalPanel, RedrawsOnlyWhatChanged) {
    int changes = 0;
    TerminalPanel panel({}, [&] { ++changes; });
    const auto before = panel.lines(60, {});
    changes = 0;
    panel.textField("loadLabel")->setStringValue("Load Average: 1.00 2.00 3.00");
    EXPECT_EQ(changes, 1);
    const auto after = panel.lines(60, {});
    EXPECT_EQ(TerminalPanel::update(before, after), "\x1b[5;1H Load Average: 1.00 2.00 3.00\x1b[K");
    EXPECT_EQ(TerminalPanel::update(after, after), "");
    panel.textField("batteryInfoLabel")->setStringValue("evil\x1b]0;title\x07");
    EXPECT_THAT(panel.lines(60, {}).back(), HasSubstr("evil\\x1b]0;title\\x07"));
}

// Every row keeps its figures at every width, in English and in German: bars shrink,
// then go; text continues on the next line; nothing is ever cut.
TEST(TerminalPanel, FiguresSurviveEveryWidth) {
    for (const bool german : {false, true}) {
        TerminalPanel::Titles titles;
        if (german) titles = {"CPU", "Arbeitsspeicher", "Festplatte", "Netzwerk", "Batterie"};
        TerminalPanel panel(titles, {});
        panel.setRows(
            {PanelRow::cpu, PanelRow::cores, PanelRow::memory, PanelRow::swap, PanelRow::disk,
             PanelRow::network, PanelRow::load, PanelRow::uptime, PanelRow::battery},
            nullptr);
        const std::pair<const char*, const char*> figures[] = {
            {"cpuPercentLabel", "100%"},
            {"memoryPercentLabel", "73%"},
            {"hddPercentLabel", "18%"},
            {"downloadLabel", "900.0 MB/s"},
            {"uploadLabel", "512 B/s"},
            {"loadLabel", "Load Average: 10.25 9.50 8.00"},
            {"uptimeLabel", "Uptime: 12d 3h 4m 5s"},
            {"batteryPercentLabel", "100.0%"},
            {"batteryTimeLabel", "2:05"},
            {"batteryInfoLabel", "312 cycles, 96% healthy"}};
        for (const auto& [outlet, text] : figures) panel.textField(outlet)->setStringValue(text);
        for (const int width : {20, 40, 200}) {
            for (const bool unicode : {true, false}) {
                const auto lines = panel.lines(width, {ColorMode::truecolor, unicode});
                std::string words;
                for (const std::string& line : lines) {
                    EXPECT_LE(displayWidth(line), width) << line;
                    words += line + " ";
                }
                for (const auto& [outlet, text] : figures) {
                    // Wrapping may move words to the next line, never lose one.
                    std::string_view rest = text;
                    while (!rest.empty()) {
                        const std::string_view word = rest.substr(0, rest.find(' '));
                        EXPECT_THAT(words, HasSubstr(std::string(word))) << width << " " << outlet;
                        rest.remove_prefix(std::min(rest.size(), word.size() + 1));
                    }
                }
                EXPECT_THAT(words, HasSubstr(unicode ? "\u2193" : "v ")) << width;
                if (width == 200) {
                    const int title = german ? 16 : 8;  // the longest title and a space
                    EXPECT_EQ(lines[0].find('\x1b'), std::size_t(1 + title)) << lines[0];
                }
            }
        }
    }
}

// The level is written beside the figure, so that it does not rest on colour alone.
TEST(TerminalPanel, LevelsAreWrittenBesideTheirFigures) {
    TerminalPanel panel({}, {});
    panel.setRows({PanelRow::cpu, PanelRow::memory, PanelRow::disk, PanelRow::battery}, nullptr);
    const std::tuple<const char*, const char*, double, const char*, const char*> rows[] = {
        {"cpuProgressBar", "cpuPercentLabel", 80, "80%", " 80% !!"},
        {"memoryProgressBar", "memoryPercentLabel", 50, "50%", " 50% !"},
        {"hddProgressBar", "hddPercentLabel", 49.9, "50%", " 50%"},
        {"batteryProgressBar", "batteryPercentLabel", 19.9, "19.9%", " 19.9% !!"}};
    for (const auto& [bar, label, value, text, shown] : rows) {
        panel.progressBar(bar)->setCurrent(value);
        panel.textField(label)->setStringValue(text);
    }
    const auto lines = panel.lines(60, {ColorMode::none, false});
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_TRUE(lines[i].ends_with(std::get<4>(rows[i]))) << lines[i];
}

// A short terminal keeps every row's title, and down to 8 lines at 40 columns its figure:
// the process lists shrink first, then rows fold into one line marked "+". Narrower than
// 20 columns the panel says so.
TEST(TerminalPanel, FitsEveryHeight) {
    TerminalPanel panel({}, {});
    const std::pair<const char*, const char*> figures[] = {
        {"cpuPercentLabel", "100%"},      {"memoryPercentLabel", "73%"},
        {"hddPercentLabel", "18%"},       {"downloadLabel", "9.0 MB/s"},
        {"uploadLabel", "512 B/s"},       {"loadLabel", "Load Average: 1.25 0.50 0.00"},
        {"uptimeLabel", "Uptime: 2d 3h"}, {"batteryPercentLabel", "100.0%"},
        {"batteryTimeLabel", "2:05"},     {"batteryInfoLabel", "312 cycles, 96% healthy"}};
    for (const auto& [outlet, text] : figures) panel.textField(outlet)->setStringValue(text);
    ProcessSections lists;
    lists.setOpen(UsageOrder::memory, true);
    panel.setProcesses(&lists);
    for (const int width : {20, 40, 80, 300}) {
        const auto whole = panel.lines(width, {ColorMode::truecolor, true});
        for (const int height : {8, 9, 12, 20, 50}) {
            const auto lines = panel.lines(width, {ColorMode::truecolor, true}, height);
            ASSERT_LE(lines.size(), std::size_t(height)) << width << "x" << height;
            if (whole.size() <= std::size_t(height)) {
                EXPECT_EQ(lines, whole);
            }
            std::string shown;
            for (const std::string& line : lines) {
                EXPECT_LE(displayWidth(line), width) << line;
                shown += line + "\n";
            }
            for (const char* title :
                 {"CPU", "Memory", "Disk", "Network", "Battery", "Load", "Uptime"})
                EXPECT_THAT(shown, HasSubstr(title)) << width << "x" << height;
            for (const auto& [outlet, text] : figures) {
                if (width < 40 || outlet == std::string_view("batteryTimeLabel") ||
                    (outlet == std::string_view("batteryInfoLabel") && height < 12))
                    continue;
                EXPECT_THAT(shown, HasSubstr(text)) << width << "x" << height << "\n" << shown;
            }
            if (whole.size() > std::size_t(height) + lists.lines(UsageOrder::memory).size()) {
                EXPECT_THAT(shown, HasSubstr("\n+")) << "a folded row is marked";
            }
        }
    }
    EXPECT_EQ(panel.lines(19, {}), (std::vector<std::string>{"Quillo needs 20", "columns"}));
}

// The chosen rows in their order; a row without its figure keeps its title.
TEST(TerminalPanel, ChosenRowsInOrderAndWhatTheMachineLacks) {
    test::TempDir dir;
    std::string stat = "cpu  0 0 0 0\n";
    for (int i = 0; i < 6; ++i) stat += "cpu" + std::to_string(i) + " 1 0 0 1\n";
    dir.write("proc/stat", stat);
    dir.write("proc/meminfo", "MemTotal: 1000 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n");
    LinuxPlatform tree(dir.roots());
    ExtraRows extra(tree, prepareForCells);
    dir.write("proc/diskstats",
              " 8 0 sda 1 0 8 0 1 0 8 0 0 0 0\n 8 1 sda1 1 0 8 0 1 0 8 0 0 0 0\n");
    const std::vector<PanelRow> rows = {PanelRow::swap, PanelRow::cores, PanelRow::cpu,
                                        PanelRow::pressure, PanelRow::diskio};
    const Configuration config(std::make_unique<SettingsSuite>(dir.path() / "none.json"));
    EXPECT_TRUE(extra.refresh(rows, config));
    TerminalPanel panel({}, {});
    panel.setRows(rows, &extra);
    auto lines = panel.lines(24, {ColorMode::none, false});
    ASSERT_EQ(lines.size(), 6u) << "six cores take two lines of three at 24 columns";
    EXPECT_EQ(lines[0], " Swap     not available");
    EXPECT_EQ(lines[1], " Cores    ... ... ...");
    EXPECT_EQ(lines[2], "          ... ... ...");
    EXPECT_TRUE(lines[3].starts_with(" CPU      ")) << lines[3];
    EXPECT_EQ(lines[4], " Pressure not available") << "a kernel without pressure files";
    EXPECT_EQ(lines[5], " Disk I/O") << "no rate before a second sample";

    dir.write("proc/meminfo", "MemTotal: 1000 kB\nSwapTotal: 4000 kB\nSwapFree: 1000 kB\n");
    dir.write("proc/stat", "cpu  0 0 0 0\ncpu0 3 0 0 1\n");
    dir.write("proc/pressure/cpu", "some avg10=0.25 avg60=0 avg300=0 total=9\n");
    dir.write("proc/pressure/io", "some avg10=12.00 avg60=0 avg300=0 total=9\n");
    dir.write("proc/diskstats",
              " 8 0 sda 1 0 8 0 1 0 8 0 0 0 0\n 8 1 sda1 1 0 99 0 1 0 8 0 0 0 0\n");
    EXPECT_TRUE(extra.refresh(rows, config));
    EXPECT_EQ(extra.pressure().text, "CPU 0.2%  I/O 12.0%");
    EXPECT_EQ(extra.diskIo().text, "read 0 B/s  write 0 B/s") << "a partition is no disk";
    lines = panel.lines(40, {ColorMode::none, false});
    EXPECT_TRUE(lines[0].starts_with(" Swap     ##") && lines[0].ends_with(" 75% !          #"))
        << lines[0] << ": the figure, its level written, then its last five minutes, the newest "
        << "thirty seconds last";
    EXPECT_EQ(lines[1], " Cores    ###") << "CPUs gone offline, the one left at 100 %";
    dir.write("proc/stat", "cpu  0 0 0 0\ncpu0 5 0 0 1\n");
    EXPECT_FALSE(extra.refresh(rows, config)) << "nothing changed";
}

TEST(Sparkline, CellsOfThirtySecondsNewestLast) {
    constexpr std::int64_t t = 1'796'000'040'000;  // a cell's start
    Sparkline s;
    EXPECT_EQ(s.text(t, true), "") << "nothing to show";
    s.add(t, 10);
    s.add(t + 1000, 30);
    s.add(t + 60'000, 100);
    s.add(t + 61'000, std::nan(""));
    EXPECT_EQ(s.text(t + 60'000, true), "       \u2582 \u2588") << "a mean of 20 %, a gap, 100 %";
    EXPECT_EQ(s.text(t + 60'000, false), "       . @");
    s.add(t + 330'000, 50);
    EXPECT_EQ(s.text(t + 330'000, false), "@        +")
        << "eleven cells on, the first two are gone";
}

// The file systems and interfaces rows: every one by default, else the chosen ones in
// their order, a chosen one the machine lacks keeping its title.
TEST(ExtraRows, ChosenFileSystemsAndInterfacesInTheirOrder) {
    test::TempDir dir;
    dir.write("proc/self/mountinfo",
              "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
              "22 21 0:5 / /tmp rw - tmpfs tmpfs rw\n"
              "23 21 8:2 / /home rw - ext4 /dev/sda2 rw\n");
    std::string dev = "Inter-| Receive | Transmit\n face |bytes packets|bytes packets\n";
    for (const char* name : {"lo", "eth0", "wlan0"})
        dev += std::string(name) + ": 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n";
    dir.write("proc/net/dev", dev);
    LinuxPlatform tree(dir.roots());
    ExtraRows extra(tree);
    const auto titles = [](const std::vector<ExtraRow>& rows) {
        std::string text;
        for (const ExtraRow& row : rows) text += (text.empty() ? "" : ",") + row.title;
        return text;
    };
    for (const auto& [json, fileSystems, interfaces] :
         {std::tuple{"{}", "/,/home", "eth0,wlan0,All"},
          {R"({"FileSystems": ["/tmp", "/gone", "/"], "Interfaces": ["wlan0"]})", "/tmp,/gone,/",
           "wlan0"},
          {R"({"Interfaces": ["ppp0", "eth0"]})", "/,/home", "ppp0,eth0,All"}}) {
        const Configuration config(std::make_unique<SettingsSuite>(dir.write("s.json", json)));
        extra.refresh({PanelRow::filesystems, PanelRow::interfaces}, config);
        EXPECT_EQ(titles(extra.fileSystems()), fileSystems) << json;
        EXPECT_EQ(titles(extra.interfaces()), interfaces) << json;
    }
    EXPECT_EQ(extra.interfaces()[0].text, ExtraRows::notAvailable) << "no ppp0 here";
    EXPECT_FALSE(extra.interfaces()[0].available);
    TerminalPanel panel({}, {});
    panel.setRows({PanelRow::filesystems}, &extra);
    EXPECT_THAT(panel.lines(40, {ColorMode::none, false}),
                ::testing::Contains(" /home not available"))
        << "a title wider than the others' keeps a blank before its figure";
}

// The terminal host in a pseudo-terminal, as a person would run it.
class TerminalHost : public ::testing::Test {
  public:
    test::TempDir home;
    pid_t child = -1;
    int master = -1;
    std::string screen;
    termios before{};
    bool live = false;  // this machine's procfs and sysfs instead of a fixture tree

    const std::string fixtures = std::string(QUILLO_FIXTURES) + "/linux/desktop-no-battery";

    // A pseudo-terminal of that width running exec in a child, with this test's settings
    // (a refresh every 0.2 s) and a terminal's usual environment.
    template <class Exec>
    void spawn(const std::vector<std::string>& environment, int columns, Exec exec) {
        updateSuite(home.path() / "quillo" / "io.quillo.shared.json",
                    [](SuiteText& s) { s.set("RefreshRate", "0.2"); });
        winsize size{24, std::uint16_t(columns), 0, 0};
        child = ::forkpty(&master, nullptr, nullptr, &size);
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
            ::setenv("COLORTERM", "truecolor", 1);
            ::setenv("TERM", "xterm-256color", 1);
            ::setenv("LANG", "C.UTF-8", 1);
            ::unsetenv("NO_COLOR");
            ::unsetenv("LANGUAGE");
            for (const std::string& e : environment) ::putenv(const_cast<char*>(e.c_str()));
            exec();
            ::_exit(127);
        }
        ::tcgetattr(master, &before);
    }

    void start(const std::vector<std::string>& environment = {}, int columns = 80,
               const std::string& program = "quillo-term", const char* frames = nullptr) {
        spawn(environment, columns, [&] {
            const std::string path = std::string(QUILLO_BIN) + "/" + program;
            const std::string procfs = live ? "/proc" : fixtures + "/proc";
            const std::string sysfs = live ? "/sys" : fixtures + "/sys";
            ::execl(path.c_str(), path.c_str(), "--procfs", procfs.c_str(), "--sysfs",
                    sysfs.c_str(), frames ? "--frames" : nullptr, frames,
                    static_cast<char*>(nullptr));
        });
    }

    // An interactive shell with job control in the pseudo-terminal, the panel one of its
    // jobs, as a person starts it.
    void startInShell() {
        spawn({"PS1=$ "}, 80, [] {
            ::execl("/bin/bash", "bash", "--norc", "--noprofile", "-i",
                    static_cast<char*>(nullptr));
        });
        const std::string line = std::string(QUILLO_BIN) + "/quillo-term --procfs " + fixtures +
                                 "/proc --sysfs " + fixtures + "/sys\n";
        ASSERT_EQ(::write(master, line.data(), line.size()), ssize_t(line.size()));
    }

    // Reads what the program writes until the text appears or the time runs out.
    bool readUntil(std::string_view text, double seconds = 10) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (screen.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end) return false;
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) return screen.find(text) != std::string::npos;
            screen.append(buffer, std::size_t(n));
        }
        return true;
    }

    int finish() {
        readUntil("\x01never\x01", 2);  // drain to the end
        int status = 0;
        ::waitpid(child, &status, 0);
        child = -1;
        return status;
    }

    // The alternate screen left, the cursor shown, and the modes as they were.
    void expectRestored() {
        const std::size_t entered = screen.find("\x1b[?1049h");
        const std::size_t restored = screen.rfind("\x1b[?1049l");
        ASSERT_NE(entered, std::string::npos);
        ASSERT_NE(restored, std::string::npos);
        EXPECT_LT(entered, restored);
        EXPECT_NE(screen.find("\x1b[?25h", restored - 8), std::string::npos) << "cursor shown";
        termios after{};
        ASSERT_EQ(::tcgetattr(master, &after), 0);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof before.c_cc), 0);
    }

    void TearDown() override {
        if (child > 0) ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0);
        if (master >= 0) ::close(master);
    }
};

TEST_F(TerminalHost, PShowsTheBusiestProcessesAndHidesThemAgain) {
    const auto spinner = test::Child::spinning("quillo-spin\x1b[");  // to come out escaped
    live = true;
    start();
    ASSERT_TRUE(readUntil("Uptime: ")) << screen;
    ASSERT_EQ(::write(master, "p", 1), 1);
    // By CPU after two samples, and by memory at once; the name's escape shown as text.
    ASSERT_TRUE(readUntil("quillo-spin\\x1b[ ")) << screen;
    EXPECT_EQ(screen.find("quillo-spin\x1b["), std::string::npos) << "never raw";
    // u: by cgroup, the processes' names give way to their units'; u again brings them back.
    ASSERT_EQ(::write(master, "u", 1), 1);
    screen.clear();
    readUntil("\x01never\x01", 1);
    EXPECT_EQ(screen.find("quillo-spin"), std::string::npos) << "by unit: " << screen;
    ASSERT_EQ(::write(master, "u", 1), 1);
    ASSERT_TRUE(readUntil("quillo-spin\\x1b[ ")) << screen;
    ASSERT_EQ(::write(master, "p", 1), 1);
    screen.clear();
    readUntil("\x01never\x01", 1);
    EXPECT_EQ(screen.find("quillo-spin"), std::string::npos) << "hidden again: " << screen;
    ASSERT_EQ(::write(master, "q", 1), 1);
    finish();
}

// Run as a person without privileges would (nobody, owning the pseudo-terminal as a login
// would make it): a filter finds the test's child, k and y end it, and a process of root
// refuses the signal and lives on.
TEST_F(TerminalHost, ProcessTableFiltersSortsAndSignals) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the panel as another user";
    constexpr uid_t nobody = 65534;
    const auto sleeper = [](const char* name, bool drop) {
        return std::make_unique<test::Child>([=] {
            if (drop && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) ::_exit(1);
            ::execl("/bin/sleep", name, "60", static_cast<char*>(nullptr));
        });
    };
    const auto victim = sleeper("quillo-victim", true), guarded = sleeper("quillo-guarded", false);
    std::filesystem::permissions(
        home.path(), std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
        std::filesystem::perm_options::add);
    spawn({}, 100, [] {
        if (::fchown(STDIN_FILENO, nobody, gid_t(-1)) != 0 || ::setgid(nobody) != 0 ||
            ::setuid(nobody) != 0)
            return;
        const std::string path = std::string(QUILLO_BIN) + "/quillo-term";
        ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
    });
    const auto keys = [&](std::string_view text) {
        ASSERT_EQ(::write(master, text.data(), text.size()), ssize_t(text.size()));
    };
    const auto zombie = [](pid_t pid) {
        const std::string stat = test::readFile("/proc/" + std::to_string(pid) + "/stat");
        return stat.find(") Z ") != std::string::npos;
    };
    ASSERT_TRUE(readUntil("Uptime: ")) << screen;
    keys("t");
    ASSERT_TRUE(readUntil("COMMAND")) << screen;
    ASSERT_TRUE(readUntil("c m n N sort")) << "the keys on the last line: " << screen;
    keys("/VICTIM");
    ASSERT_TRUE(readUntil("quillo-victim 60")) << "by command line, either case: " << screen;
    keys("\rn");
    ASSERT_TRUE(readUntil("PID\u25b2")) << "sorted by pid: " << screen;
    const std::string victimPid = std::to_string(victim->pid());
    keys("k");
    ASSERT_TRUE(readUntil("Send SIGTERM to " + victimPid + " sleep?")) << screen;
    keys("y");
    ASSERT_TRUE(readUntil("SIGTERM sent to " + victimPid)) << screen;
    for (int i = 0; i < 50 && !zombie(victim->pid()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(zombie(victim->pid())) << "ended by the signal";

    keys("/");
    keys("\x1b");  // alone: the Esc key, which clears the filter
    keys("/guarded\rK");
    const std::string guardedPid = std::to_string(guarded->pid());
    ASSERT_TRUE(readUntil("Send SIGKILL to " + guardedPid)) << screen;
    keys("y");
    ASSERT_TRUE(readUntil("SIGKILL not sent to " + guardedPid + ": Operation not permitted"))
        << screen;
    EXPECT_EQ(::kill(guarded->pid(), 0), 0) << "root's process lives on";
    keys("t");
    const std::size_t closed = screen.size();
    readUntil("\x01never\x01", 1);
    EXPECT_EQ(screen.find("guarded", closed), std::string::npos) << "closed: " << screen;
    keys("q");
    EXPECT_EQ(finish(), 0);
    expectRestored();
}

// Every way out gives the terminal back as it was.
TEST_F(TerminalHost, EveryWayOutGivesTheTerminalBack) {
    const struct {
        const char* name;
        std::function<void(TerminalHost&)> leave;
        bool crash;
    } ways[] = {
        {"q", [](TerminalHost& t) { ASSERT_EQ(::write(t.master, "q", 1), 1); }, false},
        {"Ctrl-C", [](TerminalHost& t) { ASSERT_EQ(::write(t.master, "\x03", 1), 1); }, false},
        {"Ctrl-backslash", [](TerminalHost& t) { ASSERT_EQ(::write(t.master, "\x1c", 1), 1); },
         false},
        {"SIGTERM", [](TerminalHost& t) { ::kill(t.child, SIGTERM); }, false},
        {"SIGHUP", [](TerminalHost& t) { ::kill(t.child, SIGHUP); }, false},
        {"SIGUSR1", [](TerminalHost& t) { ::kill(t.child, SIGUSR1); }, false},
        {"SIGPIPE", [](TerminalHost& t) { ::kill(t.child, SIGPIPE); }, false},
        {"Ctrl-S then q", [](TerminalHost& t) { ASSERT_EQ(::write(t.master, "\x13q", 2), 2); },
         false},
        {"a crash", [](TerminalHost& t) { ::kill(t.child, SIGSEGV); }, true},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        screen.clear();
        start();
        ASSERT_TRUE(readUntil("Load Average: 0.21 0.37 0.39")) << screen;
        way.leave(*this);
        const int status = finish();
        if (way.crash) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV);
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        expectRestored();
        EXPECT_EQ(screen.find("View will disappear"), std::string::npos) << "a debug line only";
        ::close(master);
        master = -1;
    }
}

// Under a shell: Ctrl-Z stops the panel with the terminal given back; in the background it
// leaves the terminal alone; in the foreground again it takes it, keys working at once.
TEST_F(TerminalHost, JobControlStopsBackgroundsAndForegroundsThePanel) {
    startInShell();
    ASSERT_TRUE(readUntil("Load Average: ")) << screen;
    ASSERT_EQ(::write(master, "\x1a", 1), 1);
    ASSERT_TRUE(readUntil("\x1b[?1049l", 3)) << "the screen is given back before stopping";
    ASSERT_TRUE(readUntil("Stopped", 3)) << screen;
    screen.clear();
    ASSERT_EQ(::write(master, "bg\n", 3), 3);
    readUntil("\x01never\x01", 1.0);
    EXPECT_EQ(screen.find("\x1b[?1049h"), std::string::npos) << "taken from the background";
    screen.clear();
    ASSERT_EQ(::write(master, "fg\n", 3), 3);
    ASSERT_TRUE(readUntil("\x1b[?1049h")) << "the screen is taken again";
    ASSERT_TRUE(readUntil("Load Average: ")) << "and drawn whole";
    ASSERT_EQ(::write(master, "q", 1), 1);
    EXPECT_TRUE(readUntil("\x1b[?1049l", 3)) << "q without Enter: the terminal is raw again";
    ASSERT_EQ(::write(master, "exit\n", 5), 5);
    finish();
}

// A panel that leads its own session (xterm -e, ssh -t host quillo-term) has no shell to
// continue it: Ctrl-Z must not stop it for ever.
TEST_F(TerminalHost, CtrlZWithoutJobControlNeverStopsThePanel) {
    start();
    ASSERT_TRUE(readUntil("Load Average: ")) << screen;
    ASSERT_EQ(::write(master, "\x1a", 1), 1);
    screen.clear();
    ASSERT_TRUE(readUntil("\x1b[?1049h", 3)) << "the screen is taken again at once";
    ASSERT_TRUE(readUntil("Load Average: "));
    ASSERT_EQ(::write(master, "q", 1), 1);
    EXPECT_TRUE(WIFEXITED(finish()));
    expectRestored();
}

// A terminal that stopped reading (its output held, a quiet ssh link) cannot hold up q.
TEST_F(TerminalHost, QuitsWhileTheTerminalReadsNothing) {
    start({}, 200);
    ASSERT_TRUE(readUntil("Load Average: ")) << screen;
    // Each resize redraws the whole panel, into a terminal nobody reads from.
    for (int i = 0; i < 300; ++i) {
        winsize size{std::uint16_t(40 + i % 2), 200, 0, 0};
        ::ioctl(master, TIOCSWINSZ, &size);
        ::usleep(2000);
    }
    ASSERT_EQ(::write(master, "q", 1), 1);
    int status = 0;
    pid_t ended = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < until)
        ::usleep(10000);
    EXPECT_EQ(ended, child) << "still waiting to write";
    if (ended == child) child = -1;
}

TEST_F(TerminalHost, DeadDisplayShowsTheTerminalPanelSayingWhy) {
    start({"DISPLAY=:77", "WAYLAND_DISPLAY="}, 80, "quillo");
    ASSERT_TRUE(readUntil("does not answer")) << screen;
    ASSERT_TRUE(readUntil("Load Average: ")) << screen;
    ASSERT_EQ(::write(master, "q", 1), 1);
    EXPECT_TRUE(WIFEXITED(finish()));
}

// Without a screen to redraw: plain frames, no escape sequences, the first frame whole.
TEST(TerminalFrames, PipedDumbAndAsciiOutputIsPlainText) {
    const std::string tree = std::string(QUILLO_FIXTURES) + "/linux/laptop-discharging";
    const std::string roots = " --procfs " + tree + "/proc --sysfs " + tree + "/sys";
    test::TempDir home;
    home.write("quillo/io.quillo.shared.json", "{\"RefreshRate\": 0.1}");
    for (const char* environment : {"LANG=C.UTF-8", "LC_ALL=C"}) {
        const test::RunResult r = test::run(
            std::string("env -u LANGUAGE ") + environment +
            " XDG_CONFIG_HOME=" + test::quoted(home.path().string()) +
            " XDG_STATE_HOME=" + test::quoted(home.path().string()) +
            " TERM=xterm COLORTERM=truecolor " QUILLO_BIN "/quillo --terminal --frames 2" + roots);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "an escape in plain output";
        const auto blank = r.out.find("\n\n");
        ASSERT_NE(blank, std::string::npos) << "frames apart by a blank line";
        const std::string first = r.out.substr(0, blank);
        EXPECT_THAT(first, HasSubstr("Load Average: 0.02 0.04 0.05")) << "the first frame is whole";
        EXPECT_THAT(first, HasSubstr("Uptime: "));
        EXPECT_THAT(first, HasSubstr("4.8 W, on battery")) << "power_now 4830000 µW, mains off";
        EXPECT_FALSE(std::filesystem::exists(home.path() / "quillo" / "history"))
            << "a copied tree's figures are not this machine's history";
        if (std::string(environment) == "LC_ALL=C") {
            EXPECT_TRUE(std::all_of(r.out.begin(), r.out.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            })) << "ASCII only";
            EXPECT_THAT(first, HasSubstr("v "));
            EXPECT_THAT(first, HasSubstr("#"));
        }
    }
}

// The first frame, as a script piping one frame sees it, measures the CPU over the
// first interval: never the 0 % of a sample with nothing to compare with.
TEST(TerminalFrames, FirstFrameMeasuresTheCpu) {
    std::vector<std::unique_ptr<test::Child>> spinners;
    for (long i = 0; i < std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN) / 16); ++i)
        spinners.push_back(test::Child::spinning());
    test::TempDir home;
    home.write("quillo/io.quillo.shared.json", "{\"RefreshRate\": 0.5}");
    const test::RunResult r = test::run("XDG_CONFIG_HOME=" + test::quoted(home.path().string()) +
                                        " XDG_STATE_HOME=" + test::quoted(home.path().string()) +
                                        " LC_ALL=C " QUILLO_BIN "/quillo --terminal --frames 1");
    spinners.clear();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(HistoryReader(home.path() / "quillo" / "history").seconds(0, INT64_MAX).empty())
        << "the panel records while it runs";
    const std::string cpu = r.out.substr(0, r.out.find('\n'));
    ASSERT_THAT(cpu, HasSubstr("CPU"));
    const std::size_t percent = cpu.rfind('%');
    ASSERT_NE(percent, std::string::npos) << cpu;
    const std::size_t digits = cpu.find_last_not_of("0123456789", percent - 1) + 1;
    EXPECT_GT(std::atoi(cpu.c_str() + digits), 0) << cpu;
}

// A panel refreshing once a day takes a new rate at once: two frames come in seconds.
TEST(TerminalFrames, SettingsChangeTakesEffectWithinASecond) {
    test::TempDir home;
    home.write("quillo/io.quillo.shared.json", "{\"RefreshRate\": 86400}");
    const std::string env = "XDG_CONFIG_HOME=" + test::quoted(home.path().string()) + " ";
    const auto started = std::chrono::steady_clock::now();
    const test::RunResult r = test::run(
        "timeout 10 sh -c '" + env + QUILLO_BIN "/quillo-term --frames 2 >/dev/null & sleep 0.5; " +
        env + QUILLO_BIN "/quillo settings set RefreshRate fast && wait $!'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(SettingsWatcher, FollowsTheFileFromAFolderNotYetMadeAndIgnoresItsNeighbours) {
    test::TempDir home;
    const auto suite = home.path() / "quillo" / "suite.json";
    SettingsWatcher watcher(suite);
    ASSERT_GE(watcher.descriptor(), 0);
    home.write("other.json", "{}");
    EXPECT_FALSE(watcher.changed()) << "another program's file";
    updateSuite(suite, [](SuiteText& s) { s.set("RefreshRate", "2"); });
    EXPECT_TRUE(watcher.changed()) << "the folder and the file came";
    home.write("quillo/neighbour.json", "{}");
    EXPECT_FALSE(watcher.changed());
    updateSuite(suite, [](SuiteText& s) { s.set("RefreshRate", "3"); });
    EXPECT_TRUE(watcher.changed()) << "replaced by rename";
    EXPECT_FALSE(watcher.changed()) << "nothing since";
}

}  // namespace
