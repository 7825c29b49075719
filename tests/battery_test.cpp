#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "metrics/Battery.hpp"
#include "platform/linux/LinuxPlatform.hpp"
#include "support/FakePlatform.hpp"
#include "support/TempDir.hpp"
#include "support/Views.hpp"
#include "widget/VirtualEventLoop.hpp"

using namespace quillo;

namespace {

using Properties = std::map<std::string, PropertyValue, std::less<>>;

PropertyValue n(std::int64_t v) {
    return PropertyValue(v);
}

class BatteryOnFake : public ::testing::Test {
  protected:
    test::FakePlatform platform;
    Battery battery = Battery::init();

    void publish(Properties p) {
        platform.battery = std::move(p);
        battery.close();
        ASSERT_EQ(battery.open(), kIOReturnSuccess);
    }
};

TEST_F(BatteryOnFake, ChargeRoundsDownAndDividesByZeroWithoutError) {
    publish({{"CurrentCapacity", n(4321)}, {"MaxCapacity", n(5000)}});
    EXPECT_EQ(battery.charge(), 86.0);
    publish({{"CurrentCapacity", n(5000)}, {"MaxCapacity", n(5000)}});
    EXPECT_EQ(battery.charge(), 100.0);
    publish({{"CurrentCapacity", n(10)}, {"MaxCapacity", n(0)}});
    EXPECT_TRUE(std::isinf(*battery.charge()));
    publish({{"CurrentCapacity", n(0)}, {"MaxCapacity", n(0)}});
    EXPECT_TRUE(std::isnan(*battery.charge()));
    publish({{"CurrentCapacity", n(10)}});
    EXPECT_EQ(battery.charge(), std::nullopt);
    for (std::int64_t percent = 0; percent <= 100; ++percent) {
        publish({{"CurrentCapacity", n(percent)}, {"MaxCapacity", n(100)}});
        EXPECT_EQ(battery.charge(), double(percent)) << "a whole percentage stays whole";
    }
}

TEST_F(BatteryOnFake, TemperatureRoundsUpInEachUnit) {
    publish({{"Temperature", n(3012)}});
    EXPECT_EQ(battery.temperature(TemperatureUnit::celsius), 31.0);
    EXPECT_EQ(battery.temperature(TemperatureUnit::fahrenheit), 87.0);
    EXPECT_EQ(battery.temperature(TemperatureUnit::kelvin), 304.0);
    EXPECT_EQ(battery.temperature(), battery.temperature(TemperatureUnit::celsius));
}

TEST_F(BatteryOnFake, TimeRemainingAsHoursAndMinutes) {
    for (const auto& [minutes, text] : std::vector<std::pair<std::int64_t, std::string>>{
             {125, "2:05"}, {0, "0:00"}, {60, "1:00"}, {600, "10:00"}}) {
        publish({{"TimeRemaining", n(minutes)}});
        EXPECT_EQ(battery.timeRemainingFormatted(), text);
        EXPECT_EQ(battery.timeRemaining(), minutes);
    }
}

TEST_F(BatteryOnFake, AbsentOrWrongKindIsNotAValue) {
    publish({{"CycleCount", PropertyValue(std::string("many"))},
             {"DesignCycleCount9C", n(1000)},
             {"IsCharging", n(1)},
             {"ExternalConnected", PropertyValue(true)},
             {"MaxCapacity", PropertyValue(5000.0)},
             {"DesignCapacity", PropertyValue(1e300)}});
    EXPECT_EQ(battery.cycleCount(), std::nullopt);
    EXPECT_EQ(battery.designCycleCount(), 1000) << "read under its odd name";
    EXPECT_EQ(battery.isCharging(), std::nullopt);
    EXPECT_EQ(battery.isACPowered(), true);
    EXPECT_EQ(battery.maxCapactiy(), 5000);
    EXPECT_EQ(battery.designCapacity(), std::nullopt) << "no int64 holds it";
    EXPECT_EQ(battery.isCharged(), std::nullopt);
    EXPECT_EQ(Battery::rawValue(Battery::Key::ACPowered), "ExternalConnected");
}

TEST_F(BatteryOnFake, OpenAndCloseStatuses) {
    EXPECT_EQ(battery.open(), kIOReturnNotFound);
    EXPECT_EQ(battery.service, 0u);
    EXPECT_EQ(battery.open(), kIOReturnNotFound);
    EXPECT_EQ(platform.batteryLookups, 2) << "a failed open looks again next time";
    platform.battery = Properties{};
    EXPECT_EQ(battery.open(), kIOReturnSuccess);
    EXPECT_EQ(battery.open(), kIOReturnStillOpen);
    EXPECT_EQ(platform.batteryLookups, 3);
    platform.releaseStatus = kIOReturnError;
    EXPECT_EQ(battery.close(), kIOReturnError);
    EXPECT_EQ(battery.service, 0u) << "closed whatever the release said";
}

class BatteryRows : public BatteryOnFake {
  protected:
    test::TempDir dir;
    Configuration config{std::make_unique<SettingsSuite>(dir.path() / "suite.json")};
    VirtualEventLoop loop;
    IdentityLocalizer localizer;
    test::Views views;
    std::shared_ptr<TodayViewController> controller =
        TodayViewController::initWithCoder(views, {loop, localizer, config});

    void show(Properties p) {
        platform.battery = std::move(p);
        controller->updateBattery();
    }
    std::string text(std::string_view name) const { return views.text(name); }
    ProgressBar& bar() const { return views.bar("batteryProgressBar"); }
};

TEST_F(BatteryRows, InformationLine) {
    show({{"MaxCapacity", n(4800)},
          {"DesignCapacity", n(5000)},
          {"CycleCount", n(312)},
          {"Temperature", n(3012)}});
    EXPECT_EQ(text("batteryInfoLabel"), "312 cycles, 96% healthy, 31\u2103");
    show({{"MaxCapacity", n(5100)},
          {"DesignCapacity", n(5000)},
          {"CycleCount", n(1)},
          {"Temperature", n(2000)}});
    EXPECT_EQ(text("batteryInfoLabel"), "1 cycles, 102% healthy, 20\u2103") << "not capped";
    show({{"MaxCapacity", n(4800)}, {"DesignCapacity", n(5000)}, {"CycleCount", n(312)}});
    EXPECT_EQ(text("batteryInfoLabel"), "312 cycles, 96% healthy") << "no temperature published";
    show({{"MaxCapacity", n(4800)},
          {"DesignCapacity", n(0)},
          {"CycleCount", n(7)},
          {"Temperature", n(2950)}});
    EXPECT_EQ(text("batteryInfoLabel"), "7 cycles, 30\u2103") << "no design capacity";
    show({{"MaxCapacity", n(INT64_MAX / 10)}, {"DesignCapacity", n(5)}});
    EXPECT_EQ(text("batteryInfoLabel"), "") << "an overflowing health is left out";
    show({{"MaxCapacity", n(4800)}, {"DesignCapacity", n(5000)}});
    EXPECT_EQ(text("batteryInfoLabel"), "96% healthy");
}

TEST_F(BatteryRows, ChargeAndItsColour) {
    const auto at = [&](std::int64_t percent) {
        show({{"CurrentCapacity", n(percent)}, {"MaxCapacity", n(100)}});
        return bar().tintColor();
    };
    EXPECT_EQ(at(57), Theme::normalColor());
    EXPECT_EQ(text("batteryPercentLabel"), "57.0%");
    EXPECT_EQ(bar().current(), 57.0);
    EXPECT_EQ(at(19), Theme::criticalColor());
    EXPECT_EQ(at(20), Theme::normalColor());
    EXPECT_EQ(at(0), Theme::criticalColor());
    show({{"CurrentCapacity", n(0)}, {"MaxCapacity", n(0)}});
    EXPECT_EQ(text("batteryPercentLabel"), "nan%");
    EXPECT_EQ(bar().tintColor(), Theme::normalColor());
}

TEST_F(BatteryRows, TimeLine) {
    show({{"IsCharging", PropertyValue(true)}, {"ExternalConnected", PropertyValue(true)}});
    EXPECT_EQ(text("batteryTimeLabel"), "Charging");
    show({{"IsCharging", PropertyValue(false)}, {"ExternalConnected", PropertyValue(true)}});
    EXPECT_EQ(text("batteryTimeLabel"), "AC Power");
    show({{"IsCharging", PropertyValue(false)},
          {"ExternalConnected", PropertyValue(false)},
          {"TimeRemaining", n(125)}});
    EXPECT_EQ(text("batteryTimeLabel"), "2:05");
    show({{"IsCharging", PropertyValue(false)}, {"ExternalConnected", PropertyValue(false)}});
    EXPECT_EQ(text("batteryTimeLabel"), "--") << "time not known yet";
}

TEST_F(BatteryRows, NoBatteryState) {
    show({{"CurrentCapacity", n(50)}, {"MaxCapacity", n(100)}});
    platform.battery.reset();
    views.journal->clear();
    controller->updateBattery();
    EXPECT_EQ(text("batteryInfoLabel"), "Battery not exists.");
    EXPECT_EQ(text("batteryPercentLabel"), "0%");
    EXPECT_EQ(bar().current(), 100.0);
    EXPECT_EQ(bar().tintColor(), lightGrayColor);
    EXPECT_EQ(text("batteryTimeLabel"), "AC Power");
    EXPECT_THAT(*views.journal, ::testing::ElementsAre("batteryInfoLabel", "batteryPercentLabel",
                                                       "batteryProgressBar", "batteryProgressBar",
                                                       "batteryTimeLabel"));
    EXPECT_EQ(text("batteryTitleLabal"), "") << "the title belongs to the interface file";
}

// Linux: the registry from power_supply folders.
class PowerSupplyTree : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::unique_ptr<LinuxPlatform> platform;
    std::unique_ptr<ScopedPlatform> scope;

    void supply(const std::string& name, std::map<std::string, std::string> attributes) {
        for (const auto& [attribute, value] : attributes) {
            dir.write("sys/class/power_supply/" + name + "/" + attribute, value + "\n");
        }
    }
    Battery opened() {
        scope.reset();
        platform = std::make_unique<LinuxPlatform>(
            FsRoot{(dir.path() / "proc").string(), (dir.path() / "sys").string()});
        scope = std::make_unique<ScopedPlatform>(*platform);
        Battery b;
        b.open();
        return b;
    }
};

TEST_F(PowerSupplyTree, FixtureLaptops) {
    const auto tree = [](const char* name) {
        const std::string base = std::string(QUILLO_FIXTURES) + "/linux/" + name;
        return FsRoot{base + "/proc", base + "/sys"};
    };
    {
        LinuxPlatform laptop(tree("laptop-discharging"));
        ScopedPlatform s(laptop);
        Battery b;
        ASSERT_EQ(b.open(), kIOReturnSuccess);
        EXPECT_EQ(b.maxCapactiy(), 50060);
        EXPECT_EQ(b.designCapacity(), 47520);
        EXPECT_EQ(b.charge(), 98.0);
        EXPECT_EQ(b.cycleCount(), std::nullopt) << "0 is firmware for unknown";
        EXPECT_EQ(b.temperature(), std::nullopt);
        EXPECT_EQ(b.timeRemaining(), 49450000LL * 60 / 4830000);
        EXPECT_EQ(b.isACPowered(), false);
        b.close();
    }
    {
        LinuxPlatform laptop(tree("laptop-charging"));
        ScopedPlatform s(laptop);
        Battery b;
        ASSERT_EQ(b.open(), kIOReturnSuccess);
        EXPECT_EQ(b.isCharging(), true);
        EXPECT_EQ(b.temperature(), 31.0);
        EXPECT_EQ(b.timeRemaining(), (5880000LL - 2456000) * 60 / 1764000) << "computed, not read";
        b.close();
    }
    {
        LinuxPlatform laptop(tree("laptop-charge-limit"));
        ScopedPlatform s(laptop);
        Battery b;
        ASSERT_EQ(b.open(), kIOReturnSuccess);
        EXPECT_EQ(b.isCharging(), false);
        EXPECT_EQ(b.isCharged(), false);
        EXPECT_EQ(b.isACPowered(), true);
        EXPECT_EQ(b.timeRemaining(), std::nullopt);
        EXPECT_EQ(b.charge(), 79.0) << "BAT1, not the mouse";
        b.close();
    }
}

TEST_F(PowerSupplyTree, CapacityOnlyBattery) {
    supply("BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "64"}});
    Battery b = opened();
    EXPECT_EQ(b.charge(), 64.0);
    EXPECT_EQ(b.designCapacity(), std::nullopt);
    EXPECT_EQ(b.timeRemaining(), std::nullopt);
}

TEST_F(PowerSupplyTree, FirstMachineBatteryByNameAndNoPeripheral) {
    supply("hid-mouse", {{"type", "Battery"}, {"scope", "Device"}, {"capacity", "5"}});
    EXPECT_EQ(opened().service, 0u) << "a peripheral battery is not the machine's";
    supply("BAT1", {{"type", "Battery"}, {"capacity", "20"}});
    supply("BAT0", {{"type", "Battery"}, {"capacity", "80"}});
    supply("AC", {{"type", "Mains"}, {"online", "1"}});
    Battery b = opened();
    EXPECT_EQ(b.charge(), 80.0);
    EXPECT_EQ(b.isACPowered(), true);
}

TEST_F(PowerSupplyTree, UnreadableAndEmptyAttributesAreAbsent) {
    supply("BAT0", {{"type", "Battery"},
                    {"status", ""},
                    {"energy_full", "50000000"},
                    {"energy_full_design", ""},
                    {"capacity", "50"},
                    {"cycle_count", "abc"}});
    // A folder where a file should be fails to read, as ENODEV does.
    std::filesystem::create_directories(dir.path() / "sys/class/power_supply/BAT0/temp");
    Battery b = opened();
    EXPECT_EQ(b.currentCapacity(), 25000) << "capacity × energy_full ÷ 100";
    EXPECT_EQ(b.designCapacity(), std::nullopt);
    EXPECT_EQ(b.cycleCount(), std::nullopt);
    EXPECT_EQ(b.temperature(), std::nullopt);
    EXPECT_EQ(b.isCharging(), std::nullopt);
    EXPECT_EQ(b.isACPowered(), std::nullopt);
    b.close();
    std::filesystem::remove_all(dir.path() / "sys/class/power_supply/BAT0");
    supply("BAT1", {{"type", "Battery"}});
    EXPECT_EQ(opened().temperature(), std::nullopt) << "a temperature no int64 holds";
}

TEST_F(PowerSupplyTree, TimeFromTheRateAndItsLimits) {
    supply("BAT0", {{"type", "Battery"},
                    {"status", "Discharging"},
                    {"charge_now", "3000000"},
                    {"charge_full", "6000000"},
                    {"current_now", "-1500000"}});
    EXPECT_EQ(opened().timeRemaining(), 120) << "a negative current is a rate all the same";
    supply("BAT0", {{"current_now", "0"}});
    EXPECT_EQ(opened().timeRemaining(), std::nullopt) << "no rate, no time";
    supply("BAT0", {{"current_now", "1"}});
    EXPECT_EQ(opened().timeRemaining(), std::nullopt) << "years are not a time remaining";
    supply("BAT0", {{"time_to_empty_now", "5400"}});
    EXPECT_EQ(opened().timeRemaining(), 90) << "the kernel's own figure first";
}

TEST_F(PowerSupplyTree, BatteryRemovedBetweenTicks) {
    supply("BAT0", {{"type", "Battery"}, {"capacity", "70"}});
    Battery b = opened();
    EXPECT_EQ(b.charge(), 70.0);
    std::filesystem::remove_all(dir.path() / "sys/class/power_supply/BAT0");
    EXPECT_EQ(b.charge(), 70.0) << "a kept descriptor still reads the old file until it fails";
    b.close();
    EXPECT_EQ(b.open(), kIOReturnNotFound);
}

}  // namespace
