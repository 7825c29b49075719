#include <gmock/gmock.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <cmath>

#include "quillo/widget/Levels.hpp"
#include "support/Panel.hpp"

using namespace quillo;
using ::testing::ElementsAre;

namespace {

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

TEST(ColourLevels, BoundsAreExact) {
    EXPECT_EQ(usageColorLevel(49.99), ColorLevel::normal);
    EXPECT_EQ(usageColorLevel(50.0), ColorLevel::warning);
    EXPECT_EQ(usageColorLevel(79.99), ColorLevel::warning);
    EXPECT_EQ(usageColorLevel(80.0), ColorLevel::critical);
    EXPECT_EQ(usageColorLevel(INFINITY), ColorLevel::critical);
    EXPECT_EQ(usageColorLevel(-5.0), ColorLevel::normal);
    EXPECT_EQ(usageColorLevel(NAN), ColorLevel::normal);
    EXPECT_EQ(batteryColorLevel(19.9), ColorLevel::critical);
    EXPECT_EQ(batteryColorLevel(20.0), ColorLevel::normal);
    EXPECT_EQ(batteryColorLevel(NAN), ColorLevel::normal);
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

TEST_F(Display, LoadAndUptimeLines) {
    platform.averages[0] = 0.5;
    platform.averages[1] = 1.25;
    platform.averages[2] = 10.0;
    platform.boot = 0;
    platform.now = 90061;
    tick();
    EXPECT_EQ(text("loadLabel"), "Load Average: 0.50 1.25 10.00");
    EXPECT_EQ(text("uptimeLabel"), "Uptime: 1d 1h 1m 1s");
    platform.averagesAvailable = 0;
    platform.boot.reset();
    tick();
    EXPECT_EQ(text("loadLabel"), "Load Average: 0.00 0.00 0.00");
    EXPECT_EQ(text("uptimeLabel"), "Uptime: 0d 0h 0m 0s");
}

TEST_F(Display, WritesFollowTheCycleOrder) {
    tick();
    views.journal->clear();
    tick();
    EXPECT_THAT(
        *views.journal,
        ElementsAre("cpuProgressBar", "cpuPercentLabel", "cpuProgressBar", "memoryProgressBar",
                    "memoryPercentLabel", "memoryProgressBar", "downloadLabel", "uploadLabel",
                    "loadLabel", "uptimeLabel", "hddProgressBar", "hddPercentLabel",
                    "hddProgressBar", "batteryInfoLabel", "batteryPercentLabel",
                    "batteryProgressBar", "batteryProgressBar", "batteryTimeLabel"));
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

}  // namespace
