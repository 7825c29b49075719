#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>

#include "quillo/ui/ProgressBar.hpp"
#include "quillo/widget/Format.hpp"
#include "quillo/widget/Levels.hpp"
#include "support/Panel.hpp"
#include "support/Run.hpp"

using namespace quillo;
using ::testing::ElementsAre;

namespace {

class Controller : public test::PanelTest {
  protected:
    double interval() const { return controller->refreshTimer()->timeInterval(); }
};

TEST_F(Controller, UpdateRequestsAnswerNewDataAndScheduleOneTimer) {
    EXPECT_EQ(controller->refreshTimer(), nullptr);
    std::vector<NCUpdateResult> answers;
    for (int i = 0; i < 5; ++i) {
        controller->widgetPerformUpdateWithCompletionHandler(
            [&](NCUpdateResult r) { answers.push_back(r); });
    }
    EXPECT_EQ(answers, std::vector<NCUpdateResult>(5, NCUpdateResult::NewData));
    EXPECT_EQ(loop.timersCreated(), 1u);
    EXPECT_EQ(loop.firings(), 0u) << "the first tick comes one interval after the request";
    tick();
    EXPECT_EQ(loop.firings(), 1u);
    EXPECT_EQ(controller->widgetMarginInsetsForProposedMarginInsets({0, 100, 3.5, -2}),
              (NSEdgeInsets{8, 8, 8, 8}));
}

TEST_F(Controller, ChangedIntervalReplacesTheTimerOnTheNextTickOnly) {
    setting("RefreshRate", 1);
    update();
    setting("RefreshRate", 5);
    update();
    EXPECT_EQ(interval(), 1.0) << "a request leaves a running timer alone";
    tick();
    EXPECT_EQ(interval(), 5.0);
    tick(4.9);
    EXPECT_EQ(loop.firings(), 1u);
    tick(0.1);
    EXPECT_EQ(loop.firings(), 2u);
    tick(50);
    EXPECT_EQ(loop.timersCreated(), 2u) << "an equal interval never recreates the timer";
}

TEST_F(Controller, MissingIntervalsAreOneSecondAndSpinningOnesAreSanitisedOnceAndKept) {
    for (const char* suite : {"{}", R"({"RefreshRate": "5"})", R"({"RefreshRate": [5]})", "{"}) {
        dir.write("suite.json", suite);
        auto c = TodayViewController::initWithNibName(std::nullopt, std::nullopt,
                                                      {loop, localizer, config});
        c->widgetPerformUpdateWithCompletionHandler({});
        EXPECT_EQ(c->refreshTimer()->timeInterval(), 1.0) << suite;
    }
    for (const char* stored : {"0", "-3", "1e-300"}) {
        dir.write("suite.json", std::string(R"({"RefreshRate": )") + stored + "}");
        auto c = TodayViewController::initWithNibName(std::nullopt, std::nullopt,
                                                      {loop, localizer, config});
        const std::size_t created = loop.timersCreated(), fired = loop.firings();
        c->widgetPerformUpdateWithCompletionHandler({});
        tick(10);
        EXPECT_LE(loop.firings() - fired, 100u) << stored;
        EXPECT_EQ(loop.timersCreated() - created, 1u) << stored << ": replaced on every tick";
    }
    const double inf = std::numeric_limits<double>::infinity();
    for (const double odd : {std::nan(""), inf, -inf})
        EXPECT_EQ(sanitizedRefreshInterval(odd), 1.0);
    EXPECT_EQ(sanitizedRefreshInterval(0.05), 0.1);
    EXPECT_EQ(sanitizedRefreshInterval(1e12), 86400.0);
}

TEST_F(Controller, DestructionStopsTheTimerAndLeavesQueuedBlocksHarmless) {
    update();
    tick();
    controller->updateUI(nullptr);  // a tick whose blocks are still queued
    ASSERT_GT(loop.pendingBlocks(), 0u);
    views.journal->clear();
    controller.reset();
    EXPECT_EQ(loop.liveTimers(), 0u);
    tick(10);
    EXPECT_EQ(loop.firings(), 1u);
    EXPECT_TRUE(views.journal->empty()) << "the blocks of a gone controller write nothing";
}

constexpr std::uint64_t GiB = 1ull << 30;

class Display : public test::PanelTest {
  protected:
    Display() {
        platform.basic.max_mem = 16 * GiB;
        platform.rootVolume = FileSystemAttributes{1000, 1000};
        platform.cpuLoad.cpu_ticks[CPU_STATE_IDLE] = 100000;
        update();
    }
    // The next second's ticks: 1000 in all, idle taking its share.
    void idleShare(double percent) {
        const auto idle = std::uint32_t(std::lround(percent * 10));
        platform.cpuLoad.cpu_ticks[CPU_STATE_USER] += 1000 - idle;
        platform.cpuLoad.cpu_ticks[CPU_STATE_IDLE] += idle;
    }
    Color cpuColourAt(double idle) {
        idleShare(idle);
        tick();
        return bar("cpuProgressBar").tintColor();
    }
};

TEST_F(Display, CpuShareRoundedAsPrintfAndColouredOnTheUnroundedValue) {
    idleShare(62.5);
    tick();
    EXPECT_EQ(bar("cpuProgressBar").current(), 37.5);
    EXPECT_EQ(text("cpuPercentLabel"), "38%");
    EXPECT_EQ(bar("cpuProgressBar").tintColor(), Theme::normalColor());
    EXPECT_EQ(cpuColourAt(50), Theme::warningColor());
    EXPECT_EQ(cpuColourAt(20), Theme::criticalColor());
    EXPECT_EQ(cpuColourAt(20.1), Theme::warningColor()) << "79.9";
    idleShare(100);
    update();
    idleShare(10);
    tick();
    EXPECT_EQ(text("cpuPercentLabel"), "90%") << "measured from the update request";
}

// A refresh reads the settings once, however many keys its rows look up.
TEST_F(Display, SettingsAreReadOncePerRefresh) {
    setting("WarningColorKey", std::vector<double>{1, 0, 0, 1});
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, suitePath.c_str(), IN_OPEN), 0);
    idleShare(40);
    tick();
    EXPECT_EQ(bar("cpuProgressBar").tintColor(), (Color{1, 0, 0, 1})) << "the setting holds";
    alignas(inotify_event) char events[4096];
    const ssize_t n = ::read(watch, events, sizeof events);
    ::close(watch);
    EXPECT_EQ(n, ssize_t(sizeof(inotify_event))) << "one open of the file";
}

TEST_F(Display, MemoryIsActiveWiredAndCompressedOfInstalled) {
    platform.vm = {10 * GiB / 4096, 2 * GiB / 4096, 2 * GiB / 4096, 3 * GiB / 2 / 4096,
                   GiB / 2 / 4096};
    tick();
    EXPECT_EQ(bar("memoryProgressBar").current(), 25.0);
    EXPECT_EQ(text("memoryPercentLabel"), "25%");
    platform.basic.max_mem = 0;
    tick();
    EXPECT_EQ(text("memoryPercentLabel"), "25%")
        << "no installed memory is a failed read: the row stays";
}

TEST_F(Display, DiskShareAndItsFailures) {
    const auto disk = [&](std::optional<FileSystemAttributes> volume) {
        platform.rootVolume = volume;
        tick();
        return std::make_pair(text("hddPercentLabel"), bar("hddProgressBar").tintColor());
    };
    EXPECT_EQ(disk(FileSystemAttributes{500'000'000'000, 125'000'000'000}),
              std::make_pair(std::string("75%"), Theme::warningColor()));
    EXPECT_EQ(disk(FileSystemAttributes{1000, 204}),
              std::make_pair(std::string("80%"), Theme::warningColor()))
        << "79.6";
    EXPECT_EQ(disk(std::nullopt).first, "80%") << "a failed query keeps the row";
    EXPECT_EQ(disk(FileSystemAttributes{(1ull << 60) + 1, 0}).first, "80%")
        << "a size no double holds";
    EXPECT_EQ(disk(FileSystemAttributes{0, 0}),
              std::make_pair(std::string("nan%"), Theme::normalColor()));
    EXPECT_EQ(disk(FileSystemAttributes{1000, 0}),
              std::make_pair(std::string("100%"), Theme::criticalColor()));
}

TEST_F(Display, StoredColoursApplyFromTheNextCycle) {
    platform.rootVolume = FileSystemAttributes{1000, 100};
    setting("CriticalColorKey", {0, 0, 1});
    tick();
    EXPECT_EQ(bar("hddProgressBar").tintColor(), (Color{0, 0, 1, 1}));
    updateSuite(suitePath, [](SuiteText& s) { s.erase("CriticalColorKey"); });
    tick();
    EXPECT_EQ(bar("hddProgressBar").tintColor(), Theme::criticalColor());
}

// The lines as the trees show them are in the snapshot goldens; here, what fails.
TEST_F(Display, LoadAndUptimeLinesWithoutFigures) {
    platform.averagesAvailable = 0;
    platform.boot.reset();
    tick();
    EXPECT_EQ(text("loadLabel"), "Load Average: 0.00 0.00 0.00");
    EXPECT_EQ(text("uptimeLabel"), "Uptime: 0d 0h 0m 0s");
}

class GermanLocalizer final : public Localizer {
  public:
    std::string localizedString(std::string_view key) const override {
        if (key == "Load Average: %@") return "Systemlast: %@";
        if (key == "Uptime: %dd %dh %dm %ds") return "Laufzeit: %@";  // takes other arguments
        return std::string(key);
    }
};

TEST_F(Display, TextsGoThroughTheLocalizerAndBadTranslationsAreRefused) {
    GermanLocalizer german;
    platform.boot = 0;
    platform.now = 59;
    auto c = TodayViewController::initWithCoder(views, {loop, german, config});
    controller.reset();
    c->widgetPerformUpdateWithCompletionHandler({});
    tick();
    EXPECT_EQ(text("loadLabel"), "Systemlast: 0.00 0.00 0.00");
    EXPECT_EQ(text("uptimeLabel"), "Uptime: 0d 0h 0m 59s");
}

TEST(FormatC, HostileFormatsNeverReadPastTheirArguments) {
    EXPECT_EQ(formatC("%d %d %s %n %x", {std::int64_t{1}}), "1   %n %x");
    EXPECT_EQ(formatC("100%", {}), "100%");
    EXPECT_EQ(formatC("%*d", {std::int64_t{5}}), "%*d");
    EXPECT_EQ(formatC("%.0999999999f|%4000000000d", {1.0, std::int64_t{2}}),
              "%.0999999999f|%4000000000d")
        << "found by fuzzing: printf would allocate gigabytes";
    EXPECT_EQ(formatC("%05.1f", {2.25}), "002.2");
    EXPECT_EQ(formatC("%.2f", {std::string_view("text")}), "0.00");
    EXPECT_EQ(formatC("%d %d %d", {std::nan(""), 1e300, -2.9}), "0 9223372036854775807 -2");
    EXPECT_EQ(conversionsOf("%d cycles, %d%% healthy, %.0f\u2103"), "ddf");
    EXPECT_EQ(conversionsOf("Load Average: %@"), "@");
}

// One rule for every text from outside on its way to a terminal or into JSON.
TEST(OutsideText, ControlsBidiSeparatorsAndBadBytesAreEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain caf\xc3\xa9 \xe2\x82\xac", "plain caf\xc3\xa9 \xe2\x82\xac"},
        {"\x1b]0;t\x07", "\\x1b]0;t\\x07"},
        {"a\\b", "a\\\\b"},
        {"\x7f\xc2\x9b", "\\x7f\\u009b"},
        {"\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9\xe2\x80\x8f\xd8\x9c",
         "\\u202e\\u2066\\u2069\\u200f\\u061c"},
        {"\xe2\x80\xa8\xe2\x80\xa9\xef\xbb\xbf", "\\u2028\\u2029\\ufeff"},
        {"\xff\xc0", "\\xff\\xc0"},
    };
    for (const auto& [raw, shown] : cases) EXPECT_EQ(visibleText(raw), shown) << shown;
    EXPECT_EQ(jsonString("q\"\\\x01\x7f\xe2\x80\xae\xc3\xa9"),
              "\"q\\\"\\\\\\u0001\\u007f\\u202e\xc3\xa9\"");
    EXPECT_EQ(jsonEscaped("{\"k\": \"\x7f\xe2\x80\xa8\\u001b\"}"),
              "{\"k\": \"\\u007f\\u2028\\u001b\"}");
}

// The user's locale must not leak into the panel's texts: run under a German locale,
// built for the test when the system has none.
TEST(FormatC, FullStopsUnderAGermanLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        test::TempDir dir;
        const test::RunResult built = test::run(
            "localedef -i de_DE -f UTF-8 " + test::quoted((dir.path() / "de_DE.UTF-8").string()));
        ::setenv("LOCPATH", dir.path().c_str(), 1);
        const bool available = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        ::unsetenv("LOCPATH");
        if (!available) GTEST_SKIP() << "no German locale could be made: " << built.err;
    }
    char plain[32];
    std::snprintf(plain, sizeof plain, "%.2f", 1.5);
    EXPECT_STREQ(plain, "1,50") << "the locale is really German";
    EXPECT_EQ(formatC("%.2f %.2f %.2f", {0.5, 1.25, 10.0}), "0.50 1.25 10.00");
    EXPECT_EQ(formatC("%.0f%%", {37.5}), "38%");
    std::setlocale(LC_ALL, "C");
}

}  // namespace
