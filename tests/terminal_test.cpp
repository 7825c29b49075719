#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

#include "settings/SuiteWriter.hpp"
#include "support/TempDir.hpp"
#include "terminal/Ansi.hpp"
#include "terminal/CellCanvas.hpp"
#include "terminal/TerminalPanel.hpp"
#include "ui/Theme.hpp"

using namespace quillo;
using ::testing::HasSubstr;

namespace {

std::string repeat(const char* s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(CellCanvas, BarsInEighthsOfACell) {
    ProgressBar bar;
    prepareForCells(bar);
    const char* track = "\u2591";
    const char* full = "\u2588";
    EXPECT_EQ(renderBar(bar, 20, ColorMode::none), repeat(track, 20)) << "0 %: the track alone";
    bar.setCurrent(100);
    EXPECT_EQ(renderBar(bar, 20, ColorMode::none), repeat(full, 20));
    bar.setCurrent(37.5);
    // The stroke's centre ends at 152 × 0.375 + 4 = 61 eighths; its round cap adds 4.
    EXPECT_EQ(renderBar(bar, 20, ColorMode::none), repeat(full, 8) + "\u258F" + repeat(track, 11));
    bar.setCurrent(std::nan(""));
    EXPECT_EQ(renderBar(bar, 20, ColorMode::none), repeat(track, 20));
    bar.setCurrent(50);
    bar.setMaximum(0);
    bar.setMinimum(0);
    EXPECT_EQ(renderBar(bar, 20, ColorMode::none), repeat(track, 20)) << "an infinite fraction";
}

TEST(CellCanvas, ColouredBarUsesTrackBackgroundAndLevelForeground) {
    ProgressBar bar;
    prepareForCells(bar);
    bar.setCurrent(100);
    bar.setTintColor(Theme::normalColor());
    const std::string row = renderBar(bar, 4, ColorMode::truecolor);
    EXPECT_THAT(row, HasSubstr("\x1b[38;2;43;172;45m"));
    EXPECT_THAT(row, HasSubstr("\x1b[48;2;82;82;87m"));
    EXPECT_TRUE(row.ends_with(resetAttributes));
}

TEST(Ansi, ColourFallbacks) {
    EXPECT_EQ(colorModeFor(nullptr, "truecolor", true), ColorMode::truecolor);
    EXPECT_EQ(colorModeFor(nullptr, "24bit", true), ColorMode::truecolor);
    EXPECT_EQ(colorModeFor(nullptr, nullptr, true), ColorMode::palette256);
    EXPECT_EQ(colorModeFor("1", "truecolor", true), ColorMode::none) << "NO_COLOR wins";
    EXPECT_EQ(colorModeFor("", nullptr, true), ColorMode::palette256)
        << "an empty NO_COLOR is unset";
    EXPECT_EQ(colorModeFor(nullptr, "truecolor", false), ColorMode::none) << "not a terminal";
    EXPECT_EQ(xterm256({1, 0, 0, 1}), 196);
    EXPECT_EQ(xterm256({0.5, 0.5, 0.5, 1}), 244);
    EXPECT_EQ(xterm256({0, 0, 0, 1}), 16);
    EXPECT_EQ(foreground(Theme::criticalColor(), ColorMode::palette256), "\x1b[38;5;167m");
    EXPECT_EQ(foreground(Theme::criticalColor(), ColorMode::none), "");
}

TEST(TerminalPanel, RedrawsOnlyWhatChanged) {
    int changes = 0;
    TerminalPanel panel({}, [&] { ++changes; });
    const auto before = panel.lines(60, ColorMode::none);
    changes = 0;
    panel.textField("loadLabel")->setStringValue("Load Average: 1.00 2.00 3.00");
    EXPECT_EQ(changes, 1);
    const auto after = panel.lines(60, ColorMode::none);
    EXPECT_EQ(TerminalPanel::update(before, after), "\x1b[5;1H Load Average: 1.00 2.00 3.00\x1b[K");
    EXPECT_EQ(TerminalPanel::update(after, after), "");
    panel.textField("batteryInfoLabel")->setStringValue("evil\x1b]0;title\x07");
    EXPECT_THAT(panel.lines(60, ColorMode::none).back(), HasSubstr("evil\\x1b]0;title\\x07"));
    for (const std::string& line : panel.lines(24, ColorMode::truecolor)) {
        EXPECT_LE(displayWidth(line), 24) << line;
    }
}

// The terminal host in a pseudo-terminal, as a person would run it.
class TerminalHost : public ::testing::Test {
  protected:
    test::TempDir home;
    pid_t child = -1;
    int master = -1;
    std::string screen;

    void start() {
        updateSuite(home.path() / "quillo" / "io.quillo.shared.json",
                    [](SuiteText& s) { s.set("RefreshRate", "0.2"); });
        const std::string fixtures = std::string(QUILLO_FIXTURES) + "/linux/desktop-no-battery";
        winsize size{24, 80, 0, 0};
        child = ::forkpty(&master, nullptr, nullptr, &size);
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
            ::setenv("COLORTERM", "truecolor", 1);
            ::unsetenv("NO_COLOR");
            const std::string program = std::string(QUILLO_BIN) + "/quillo-term";
            ::execl(program.c_str(), program.c_str(), "--procfs", (fixtures + "/proc").c_str(),
                    "--sysfs", (fixtures + "/sys").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
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
        readUntil("\x01never\x01", 3);  // drain to the end
        int status = 0;
        ::waitpid(child, &status, 0);
        return status;
    }

    void expectRestored() {
        const std::size_t entered = screen.find("\x1b[?1049h");
        const std::size_t restored = screen.rfind("\x1b[?1049l");
        ASSERT_NE(entered, std::string::npos);
        ASSERT_NE(restored, std::string::npos);
        EXPECT_LT(entered, restored);
        EXPECT_NE(screen.find("\x1b[?25h", entered), std::string::npos) << "cursor shown again";
        termios modes{};
        ASSERT_EQ(::tcgetattr(master, &modes), 0);
        EXPECT_TRUE(modes.c_lflag & ICANON) << "line editing given back";
        EXPECT_TRUE(modes.c_lflag & ECHO) << "echo given back";
    }

    void TearDown() override {
        if (child > 0) ::kill(child, SIGKILL), ::waitpid(child, nullptr, WNOHANG);
        if (master >= 0) ::close(master);
    }
};

TEST_F(TerminalHost, ShowsTheLoadAverageAfterTwoTicksAndQuitsCleanly) {
    start();
    ASSERT_TRUE(readUntil("Load Average: 0.21 0.37 0.39")) << screen;
    ASSERT_TRUE(readUntil("Uptime: ")) << screen;
    ASSERT_EQ(::write(master, "q", 1), 1);
    const int status = finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    expectRestored();
    const std::size_t restored = screen.rfind("\x1b[?1049l");
    const std::size_t lines = screen.find("View will disappear\r\nView did disappear");
    ASSERT_NE(lines, std::string::npos) << screen;
    EXPECT_GT(lines, restored) << "the lines are printed on the restored screen";
}

TEST_F(TerminalHost, TerminationSignalQuitsLikeQ) {
    start();
    ASSERT_TRUE(readUntil("Load Average: ")) << screen;
    ::kill(child, SIGTERM);
    const int status = finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    expectRestored();
    EXPECT_THAT(screen, HasSubstr("View did disappear"));
}

TEST_F(TerminalHost, CrashStillGivesTheTerminalBack) {
    start();
    ASSERT_TRUE(readUntil("Load Average: ")) << screen;
    ::kill(child, SIGSEGV);
    const int status = finish();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV);
    expectRestored();
}

}  // namespace
