#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "settings/SuiteWriter.hpp"
#include "support/FakePlatform.hpp"
#include "support/TempDir.hpp"
#include "support/Views.hpp"
#include "widget/VirtualEventLoop.hpp"

using namespace quillo;
using ::testing::ElementsAre;

namespace {

constexpr std::uint64_t GiB = 1ull << 30;

class Display : public ::testing::Test {
  protected:
    test::FakePlatform platform;
    test::TempDir dir;
    std::filesystem::path suitePath = dir.path() / "suite.json";
    Configuration config{std::make_unique<SettingsSuite>(suitePath)};
    VirtualEventLoop loop;
    IdentityLocalizer localizer;
    test::Views views;
    std::shared_ptr<TodayViewController> controller =
        TodayViewController::initWithCoder(views, {loop, localizer, config});

    Display() {
        platform.basic.max_mem = 16 * GiB;
        platform.rootVolume = FileSystemAttributes{1000, 1000};
        platform.cpuLoad.cpu_ticks[CPU_STATE_IDLE] = 100000;
        controller->widgetPerformUpdateWithCompletionHandler({});
    }

    void idleShare(double idlePercent) {
        // Ticks move by 1000 a second; idle takes its share.
        const auto idle = std::uint32_t(std::lround(idlePercent * 10));
        auto& t = platform.cpuLoad.cpu_ticks;
        t[CPU_STATE_USER] += 1000 - idle;
        t[CPU_STATE_IDLE] += idle;
    }
    void tick() { loop.advance(1.0); }
    std::string text(std::string_view name) const { return views.text(name); }
    ProgressBar& bar(std::string_view name) const { return views.bar(name); }
};

TEST_F(Display, FirstCycleAfterAnUpdateRequestShowsZeroCPU) {
    platform.cpuLoad.cpu_ticks[CPU_STATE_USER] = 5000;
    tick();
    EXPECT_EQ(text("cpuPercentLabel"), "0%");
    EXPECT_EQ(bar("cpuProgressBar").current(), 0.0);
    idleShare(62.5);
    tick();
    EXPECT_EQ(bar("cpuProgressBar").current(), 37.5);
    EXPECT_EQ(text("cpuPercentLabel"), "38%");
    EXPECT_EQ(bar("cpuProgressBar").tintColor(), Theme::normalColor());
    controller->widgetPerformUpdateWithCompletionHandler({});
    idleShare(10);
    tick();
    EXPECT_EQ(text("cpuPercentLabel"), "0%") << "every update request resets the baseline";
}

TEST_F(Display, UsageLevelsOnTheUnroundedValue) {
    EXPECT_EQ(usageColorLevel(49.99), ColorLevel::normal);
    EXPECT_EQ(usageColorLevel(50.0), ColorLevel::warning);
    EXPECT_EQ(usageColorLevel(79.99), ColorLevel::warning);
    EXPECT_EQ(usageColorLevel(80.0), ColorLevel::critical);
    EXPECT_EQ(usageColorLevel(100.0), ColorLevel::critical);
    EXPECT_EQ(usageColorLevel(INFINITY), ColorLevel::critical);
    EXPECT_EQ(usageColorLevel(-5.0), ColorLevel::normal);
    EXPECT_EQ(usageColorLevel(NAN), ColorLevel::normal);
    EXPECT_EQ(batteryColorLevel(19.9), ColorLevel::critical);
    EXPECT_EQ(batteryColorLevel(20.0), ColorLevel::normal);
    EXPECT_EQ(batteryColorLevel(0.0), ColorLevel::critical);
    EXPECT_EQ(batteryColorLevel(NAN), ColorLevel::normal);

    tick();
    idleShare(50);
    tick();
    EXPECT_EQ(bar("cpuProgressBar").tintColor(), Theme::warningColor());
    idleShare(20);
    tick();
    EXPECT_EQ(bar("cpuProgressBar").tintColor(), Theme::criticalColor());
}

TEST_F(Display, MemoryIsActiveWiredAndCompressedOfInstalled) {
    platform.vm.active_count = 2 * GiB / 4096;
    platform.vm.wire_count = 3 * GiB / 2 / 4096;
    platform.vm.compressor_page_count = GiB / 2 / 4096;
    platform.vm.free_count = 10 * GiB / 4096;
    platform.vm.inactive_count = 2 * GiB / 4096;
    tick();
    EXPECT_EQ(bar("memoryProgressBar").current(), 25.0);
    EXPECT_EQ(text("memoryPercentLabel"), "25%");
    EXPECT_EQ(bar("memoryProgressBar").tintColor(), Theme::normalColor());
}

TEST_F(Display, NoInstalledMemoryKeepsTheRow) {
    platform.vm.active_count = 1000;
    tick();
    const std::string before = text("memoryPercentLabel");
    platform.basic.max_mem = 0;
    tick();
    EXPECT_EQ(text("memoryPercentLabel"), before);
}

TEST_F(Display, DiskShareAndItsFailures) {
    platform.rootVolume = FileSystemAttributes{500'000'000'000, 125'000'000'000};
    tick();
    EXPECT_EQ(bar("hddProgressBar").current(), 75.0);
    EXPECT_EQ(text("hddPercentLabel"), "75%");
    EXPECT_EQ(bar("hddProgressBar").tintColor(), Theme::warningColor());

    platform.rootVolume = FileSystemAttributes{1000, 204};  // 79.6 % used
    tick();
    EXPECT_EQ(text("hddPercentLabel"), "80%");
    EXPECT_EQ(bar("hddProgressBar").tintColor(), Theme::warningColor());

    platform.rootVolume.reset();
    tick();
    EXPECT_EQ(text("hddPercentLabel"), "80%") << "a failed query keeps the row";
    platform.rootVolume = FileSystemAttributes{(1ull << 60) + 1, 0};
    tick();
    EXPECT_EQ(text("hddPercentLabel"), "80%") << "a size no double holds keeps the row";

    platform.rootVolume = FileSystemAttributes{0, 0};
    tick();
    EXPECT_EQ(text("hddPercentLabel"), "nan%");
    EXPECT_EQ(bar("hddProgressBar").tintColor(), Theme::normalColor());
    platform.rootVolume = FileSystemAttributes{1000, 0};
    tick();
    EXPECT_EQ(text("hddPercentLabel"), "100%");
    EXPECT_EQ(bar("hddProgressBar").tintColor(), Theme::criticalColor());
}

TEST_F(Display, StoredColoursApplyFromTheNextCycle) {
    platform.rootVolume = FileSystemAttributes{1000, 100};
    tick();
    EXPECT_EQ(bar("hddProgressBar").tintColor(), Theme::criticalColor());
    updateSuite(suitePath, [](SuiteDocument& d) { d["CriticalColorKey"] = {0, 0, 1}; });
    tick();
    EXPECT_EQ(bar("hddProgressBar").tintColor(), (Color{0, 0, 1, 1}));
    updateSuite(suitePath, [](SuiteDocument& d) { d.erase("CriticalColorKey"); });
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
    EXPECT_EQ(text("downloadLabel"), "--");
}

TEST_F(Display, DestroyedControllerWritesNothing) {
    tick();
    views.journal->clear();
    controller->updateUI(nullptr);
    controller.reset();
    loop.runPendingBlocks();
    EXPECT_TRUE(views.journal->empty());
}

class GermanLocalizer final : public Localizer {
  public:
    std::string localizedString(std::string_view key) const override {
        if (key == "Load Average: %@") return "Systemlast: %@";
        if (key == "Uptime: %dd %dh %dm %ds") return "Laufzeit: %@";  // takes other arguments
        return std::string(key);
    }
};

TEST(DisplayTexts, TranslationsGoThroughTheLocalizerAndBadOnesAreRefused) {
    test::FakePlatform platform;
    platform.boot = 0;
    platform.now = 59;
    test::TempDir dir;
    Configuration config(std::make_unique<SettingsSuite>(dir.path() / "s.json"));
    VirtualEventLoop loop;
    GermanLocalizer german;
    test::Views views;
    auto c = TodayViewController::initWithCoder(views, {loop, german, config});
    c->widgetPerformUpdateWithCompletionHandler({});
    loop.advance(1.0);
    EXPECT_EQ(views.text("loadLabel"), "Systemlast: 0.00 0.00 0.00");
    EXPECT_EQ(views.text("uptimeLabel"), "Uptime: 0d 0h 0m 59s");
}

}  // namespace
