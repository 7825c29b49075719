#include <gmock/gmock.h>

#include <cmath>

#include "quillo/metrics/Battery.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/widget/ExtraRows.hpp"
#include "support/Panel.hpp"

using namespace quillo;

namespace {

using Properties = std::map<std::string, PropertyValue, std::less<>>;
PropertyValue n(std::int64_t v) {
    return PropertyValue(v);
}

class BatteryOnFake : public ::testing::Test {
  protected:
    test::FakePlatform platform;
    Battery battery;

    Battery& publish(Properties p) {
        platform.battery = std::move(p);
        battery.close();
        EXPECT_EQ(battery.open(), kIOReturnSuccess);
        return battery;
    }
};

TEST_F(BatteryOnFake, ChargeRoundsDownKeepsWholePercentagesAndDividesByZeroQuietly) {
    EXPECT_EQ(publish({{"CurrentCapacity", n(4321)}, {"MaxCapacity", n(5000)}}).charge(), 86.0);
    for (std::int64_t percent = 0; percent <= 100; ++percent) {
        EXPECT_EQ(publish({{"CurrentCapacity", n(percent)}, {"MaxCapacity", n(100)}}).charge(),
                  double(percent));
    }
    EXPECT_TRUE(std::isinf(*publish({{"CurrentCapacity", n(10)}, {"MaxCapacity", n(0)}}).charge()));
    EXPECT_TRUE(std::isnan(*publish({{"CurrentCapacity", n(0)}, {"MaxCapacity", n(0)}}).charge()));
    EXPECT_EQ(publish({{"CurrentCapacity", n(10)}}).charge(), std::nullopt);
}

TEST_F(BatteryOnFake, TemperatureAndTimeRemaining) {
    publish({{"Temperature", n(3012)}, {"TimeRemaining", n(125)}});
    EXPECT_EQ(battery.temperature(), 31.0);
    EXPECT_EQ(battery.temperature(TemperatureUnit::fahrenheit), 87.0);
    EXPECT_EQ(battery.temperature(TemperatureUnit::kelvin), 304.0);
    EXPECT_EQ(battery.timeRemainingFormatted(), "2:05");
    for (const auto& [minutes, text] : {std::pair{0, "0:00"}, {60, "1:00"}, {600, "10:00"}}) {
        EXPECT_EQ(publish({{"TimeRemaining", n(minutes)}}).timeRemainingFormatted(), text);
    }
}

TEST_F(BatteryOnFake, AbsentOrWrongKindIsNotAValue) {
    publish({{"CycleCount", PropertyValue(std::string("many"))},
             {"DesignCycleCount9C", n(1000)},
             {"IsCharging", n(1)},
             {"MaxCapacity", PropertyValue(5000.0)},
             {"DesignCapacity", PropertyValue(1e300)}});
    EXPECT_EQ(battery.cycleCount(), std::nullopt);
    EXPECT_EQ(battery.designCycleCount(), 1000) << "read under its odd name";
    EXPECT_EQ(battery.isCharging(), std::nullopt);
    EXPECT_EQ(battery.maxCapactiy(), 5000);
    EXPECT_EQ(battery.designCapacity(), std::nullopt) << "no int64 holds it";
    EXPECT_EQ(battery.isACPowered(), std::nullopt);
}

class BatteryRows : public test::PanelTest {
  protected:
    std::string show(Properties p, std::string_view label = "batteryInfoLabel") {
        platform.battery = std::move(p);
        controller->updateBattery();
        return text(label);
    }
};

TEST_F(BatteryRows, InformationLineHoldsWhatIsPublished) {
    EXPECT_EQ(show({{"MaxCapacity", n(4800)},
                    {"DesignCapacity", n(5000)},
                    {"CycleCount", n(312)},
                    {"Temperature", n(3012)}}),
              "312 cycles, 96% healthy, 31\u2103");
    EXPECT_EQ(show({{"MaxCapacity", n(5100)}, {"DesignCapacity", n(5000)}, {"CycleCount", n(1)}}),
              "1 cycles, 102% healthy");
    EXPECT_EQ(show({{"MaxCapacity", n(4800)},
                    {"DesignCapacity", n(0)},
                    {"CycleCount", n(7)},
                    {"Temperature", n(2950)}}),
              "7 cycles, 30\u2103");
    EXPECT_EQ(show({{"MaxCapacity", n(INT64_MAX / 10)}, {"DesignCapacity", n(5)}}), "")
        << "an overflowing health";
}

TEST_F(BatteryRows, ChargeColourAndTimeLine) {
    const auto colourAt = [&](std::int64_t percent) {
        show({{"CurrentCapacity", n(percent)}, {"MaxCapacity", n(100)}});
        return bar("batteryProgressBar").tintColor();
    };
    EXPECT_EQ(colourAt(57), Theme::normalColor());
    EXPECT_EQ(text("batteryPercentLabel"), "57.0%");
    EXPECT_EQ(colourAt(19), Theme::criticalColor());
    EXPECT_EQ(colourAt(20), Theme::normalColor());
    EXPECT_EQ(colourAt(0), Theme::criticalColor());
    const auto time = [&](bool charging, bool ac, std::optional<std::int64_t> minutes) {
        Properties p{{"IsCharging", PropertyValue(charging)},
                     {"ExternalConnected", PropertyValue(ac)}};
        if (minutes) p["TimeRemaining"] = n(*minutes);
        return show(p, "batteryTimeLabel");
    };
    EXPECT_EQ(time(true, true, 5), "Charging");
    EXPECT_EQ(time(false, true, 5), "AC Power");
    EXPECT_EQ(time(false, false, 125), "2:05");
    EXPECT_EQ(time(false, false, std::nullopt), "--") << "a time not known yet";
}

// The rows without a battery are in the snapshot golden of a desktop tree.

// Linux: the registry from power_supply folders.
class PowerSupplyTree : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::unique_ptr<LinuxPlatform> platform;
    std::unique_ptr<ScopedPlatform> scope;

    void supply(const std::string& name, const std::map<std::string, std::string>& attributes) {
        for (const auto& [a, v] : attributes)
            dir.write(std::filesystem::path("sys/class/power_supply") / name / a, v + "\n");
    }
    Battery opened(FsRoot root = {}) {
        if (root.procfs == "/proc") root = dir.roots();
        scope.reset();
        platform = std::make_unique<LinuxPlatform>(root);
        scope = std::make_unique<ScopedPlatform>(*platform);
        Battery b;
        b.open();
        return b;
    }
};

TEST_F(PowerSupplyTree, MachineBatteryCapacityOnlyAndPeripherals) {
    supply("hid-mouse", {{"type", "Battery"}, {"scope", "Device"}, {"capacity", "5"}});
    EXPECT_EQ(opened().service, 0u) << "a peripheral battery is not the machine's";
    supply("BAT1", {{"type", "Battery"}, {"capacity", "20"}});
    supply("BAT0", {{"type", "Battery"}, {"capacity", "64"}, {"status", "Discharging"}});
    supply("AC", {{"type", "Mains"}, {"online", "1"}});
    Battery b = opened();
    EXPECT_EQ(b.charge(), 64.0) << "the first by name, on capacity alone";
    EXPECT_EQ(b.designCapacity(), std::nullopt);
    EXPECT_EQ(b.isACPowered(), true);
    std::filesystem::remove_all(dir.path() / "sys/class/power_supply/BAT0");
    std::filesystem::remove_all(dir.path() / "sys/class/power_supply/BAT1");
    EXPECT_EQ(opened().service, 0u) << "removed between two ticks";
}

TEST_F(PowerSupplyTree, UnreadableEmptyAndOverflowingAttributesAreAbsent) {
    supply("BAT0", {{"type", "Battery"},
                    {"status", ""},
                    {"energy_full", "50000000"},
                    {"energy_full_design", ""},
                    {"capacity", "50"},
                    {"cycle_count", "abc"}});
    std::filesystem::create_directories(
        dir.path() / "sys/class/power_supply/BAT0/temp");  // fails as ENODEV does
    Battery b = opened();
    EXPECT_EQ(b.currentCapacity(), 25000) << "capacity × energy_full ÷ 100";
    EXPECT_EQ(b.designCapacity(), std::nullopt);
    EXPECT_EQ(b.cycleCount(), std::nullopt);
    EXPECT_EQ(b.temperature(), std::nullopt);
    EXPECT_EQ(b.isCharging(), std::nullopt);
    std::filesystem::remove_all(dir.path() / "sys/class/power_supply/BAT0/temp");
    supply("BAT0", {{"temp", "1697468152054173605"}});  // found by fuzzing: × 10 overflowed
    EXPECT_EQ(opened().temperature(), std::nullopt);
}

TEST_F(PowerSupplyTree, TimeFromTheRateAndItsLimits) {
    supply("BAT0", {{"type", "Battery"},
                    {"status", "Discharging"},
                    {"charge_now", "3000000"},
                    {"charge_full", "6000000"},
                    {"current_now", "-1500000"}});
    EXPECT_EQ(opened().timeRemaining(), 120) << "a negative current is a rate all the same";
    for (const char* current : {"0", "1"}) {
        supply("BAT0", {{"current_now", current}});
        EXPECT_EQ(opened().timeRemaining(), std::nullopt) << "no time from a rate of " << current;
    }
    supply("BAT0", {{"time_to_empty_now", "5400"}});
    EXPECT_EQ(opened().timeRemaining(), 90) << "the kernel's own figure first";
}

TEST_F(PowerSupplyTree, DrawInWattsEitherWayAndThePowerLine) {
    supply("BAT0", {{"type", "Battery"}, {"status", "Discharging"}});
    EXPECT_EQ(opened().watts(), std::nullopt) << "neither power nor current and voltage";
    supply("BAT0", {{"current_now", "-1500000"}, {"voltage_now", "11000000"}});
    EXPECT_DOUBLE_EQ(opened().watts().value_or(0), 16.5) << "a negative current draws all the same";
    supply("BAT0", {{"power_now", "4830000"}});
    EXPECT_DOUBLE_EQ(opened().watts().value_or(0), 4.83) << "power_now first";

    ExtraRows rows(*platform);
    const std::pair<std::tuple<std::optional<double>, std::optional<bool>>, const char*> lines[] = {
        {{4.83, false}, "4.8 W, on battery"},
        {{21.3444, true}, "21.3 W, adapter connected"},
        {{std::nullopt, true}, "adapter connected"},
        {{0.0, std::nullopt}, "0.0 W"},
        {{std::nullopt, std::nullopt}, ""}};
    for (const auto& [in, text] : lines) {
        rows.showBatteryPower(std::get<0>(in), std::get<1>(in));
        EXPECT_EQ(rows.batteryPower().text, text);
        EXPECT_EQ(rows.batteryPower().available, *text != 0);
    }
}

}  // namespace
