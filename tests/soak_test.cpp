#include <gtest/gtest.h>
#include <malloc.h>

#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <regex>

#include "quillo/ui/ProgressBar.hpp"
#include "quillo/widget/TodayViewController.hpp"
#include "quillo/widget/VirtualEventLoop.hpp"
#include "support/FakePlatform.hpp"
#include "support/TempDir.hpp"
#include "support/Views.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define QUILLO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLO_ASAN 1
#endif
#endif

using namespace quillo;

namespace {

// A machine whose every value goes wild, a few of them on every tick.
class WildMachine {
  public:
    explicit WildMachine(test::FakePlatform& p) : p_(p) {}

    template <class T>
    T pick(std::initializer_list<T> choices) {
        return *(choices.begin() +
                 std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(rng_));
    }
    bool chance(double probability) {
        return std::uniform_real_distribution<double>(0, 1)(rng_) < probability;
    }
    std::uint64_t any() { return rng_(); }

    double wildDouble() {
        constexpr double inf = std::numeric_limits<double>::infinity();
        return pick<double>(
            {std::nan(""), inf, -inf, -1.5, 0.0, 1e300, 0.42, double(any() % 1000) / 7.0});
    }

    void step() {
        auto& t = p_.cpuLoad.cpu_ticks;
        for (auto& counter : t) counter += std::uint32_t(any() % 500);  // wraps at 2^32
        if (chance(0.01)) t[CPU_STATE_IDLE] = 0;                        // counters restart
        if (chance(0.01)) t[CPU_STATE_USER] = UINT32_MAX - 3;
        p_.vm = {std::uint32_t(any()), std::uint32_t(any()), std::uint32_t(any()),
                 std::uint32_t(any()), std::uint32_t(any())};
        p_.page = pick<std::uint64_t>({4096, 16384, 0, 1});
        p_.basic.max_mem = pick<std::uint64_t>({0, 1, UINT64_MAX, 17179869184ull, any()});
        for (double& a : p_.averages) a = wildDouble();
        p_.averagesAvailable = int(any() % 4);
        p_.now += 1;
        p_.boot = chance(0.1)
                      ? std::nullopt
                      : std::optional<std::int64_t>(p_.now - std::int64_t(any() % 200000) + 100000);
        p_.rootVolume = chance(0.1) ? std::nullopt
                                    : std::optional<FileSystemAttributes>(
                                          {pick<std::uint64_t>({0, 1000, (1ull << 60) + 1, any()}),
                                           pick<std::uint64_t>({0, 500, UINT64_MAX, any()})});
        if (chance(0.05)) {
            p_.store.clear();
            if (chance(0.7))
                p_.route(kGlobalIPv4StateKey,
                         {{"PrimaryInterface", std::string(pick({"eth0", "wlan0", "ghost"}))}});
            if (chance(0.3))
                p_.route(kGlobalIPv6StateKey,
                         {{"PrimaryInterface", std::string(pick({"eth0", "tun0"}))}});
        }
        for (auto& [name, counters] : totals_) {
            counters.first =
                chance(0.02) ? any() % 1000 : counters.first + any() % 5'000'000;  // or restarted
            counters.second = chance(0.02) ? any() % 1000 : counters.second + any() % 100'000;
            p_.counters(name, counters.first, counters.second);
        }
        if (chance(0.03)) p_.interfaces.clear(), p_.indices.clear();  // every interface vanished
        if (chance(0.05)) {
            if (chance(0.3)) {
                p_.battery.reset();
            } else {
                p_.battery.emplace();
                for (const char* key : {"CurrentCapacity", "MaxCapacity", "DesignCapacity",
                                        "CycleCount", "Temperature", "TimeRemaining", "IsCharging",
                                        "ExternalConnected", "FullyCharged"}) {
                    if (chance(0.2)) continue;
                    (*p_.battery)[key] = pick<PropertyValue>(
                        {PropertyValue(std::int64_t(any())), PropertyValue(std::int64_t(0)),
                         PropertyValue(std::numeric_limits<std::int64_t>::min()),
                         PropertyValue(std::int64_t(-60)), PropertyValue(wildDouble()),
                         PropertyValue(chance(0.5)), PropertyValue(std::string("x"))});
                }
            }
        }
    }

  private:
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> totals_{
        {"eth0", {}}, {"wlan0", {}}, {"tun0", {}}};
    test::FakePlatform& p_;
    std::mt19937_64 rng_{20261206};
};

std::string wildSuite(WildMachine& m) {
    const char* interval =
        m.pick({"0", "-1", "1e-9", "1e308", "\"5\"", "0.5", "2", "1", "[1]", "null"});
    const char* colour =
        m.pick({"[0, 0, 1]", "[]", "[1e308, -5, 0.5, 2, 7]", "[\"x\"]", "{}", "\"red\"", "[0.1]"});
    return std::string("{\"RefreshRate\": ") + interval + ", \"CriticalColorKey\": " + colour +
           ", \"NormalColorKey\": " + m.pick({"[0, 1, 0]", "true", "[]"}) + "}";
}

TEST(Soak, AHundredThousandTicksOfAWildMachine) {
    test::FakePlatform platform;
    WildMachine machine(platform);
    test::TempDir dir;
    const auto suite = dir.path() / "suite.json";
    Configuration config(std::make_unique<SettingsSuite>(suite));
    VirtualEventLoop loop;
    IdentityLocalizer localizer;
    test::Views outlets(false);
    auto controller = TodayViewController::initWithCoder(outlets, {loop, localizer, config});
    controller->widgetPerformUpdateWithCompletionHandler({});

    const std::string number = R"((-?\d+(\.\d+)?|nan|-?inf))";
    const std::map<std::string, std::regex> texts = {
        {"cpuPercentLabel", std::regex("^(" + number + "%)?$")},
        {"memoryPercentLabel", std::regex("^(" + number + "%)?$")},
        {"hddPercentLabel", std::regex("^(" + number + "%)?$")},
        {"downloadLabel", std::regex(R"(^(--|\d+ B/s|\d+\.\d (KB|MB|GB)/s)$)")},
        {"uploadLabel", std::regex(R"(^(--|\d+ B/s|\d+\.\d (KB|MB|GB)/s)$)")},
        {"loadLabel", std::regex("^Load Average: " + number + " " + number + " " + number + "$")},
        {"uptimeLabel", std::regex(R"(^Uptime: -?\d+d -?\d+h -?\d+m -?\d+s$)")},
        {"batteryPercentLabel", std::regex("^(0%|" + number + "%)?$")},
        {"batteryTimeLabel", std::regex(R"(^(Charging|AC Power|--|-?\d+:-?\d+)?$)")},
        {"batteryInfoLabel", std::regex("^(Battery not exists\\.|((-?\\d+ cycles|-?\\d+% healthy|" +
                                        number + "\u2103)(, )?)*)$")},
    };
    const auto checkTexts = [&](int tick) {
        for (const auto& [name, pattern] : texts) {
            const std::string text = outlets.text(name);
            ASSERT_TRUE(std::regex_match(text, pattern))
                << "tick " << tick << ": " << name << " = \"" << text << "\"";
        }
    };

    constexpr int ticks = 100'000;
    std::size_t settingsChanges = 0;
    [[maybe_unused]] std::size_t heapAfterWarmUp = 0;
    for (int tick = 1; tick <= ticks; ++tick) {
        machine.step();
        if (tick % 7 == 0) {
            std::ofstream(suite) << wildSuite(machine);
            ++settingsChanges;
        }
        if (tick % 50 == 0) controller->widgetPerformUpdateWithCompletionHandler({});
        const double interval = controller->refreshTimer()->timeInterval();
        ASSERT_GE(interval, 0.1) << "a timer that would spin";
        ASSERT_LE(interval, 86400.0);
        const std::size_t fired = loop.firings();
        loop.advance(interval);
        ASSERT_EQ(loop.firings(), fired + 1) << "one tick per interval, at tick " << tick;
        if (tick % 10'000 == 0) checkTexts(tick);
        if (tick == 10'000) heapAfterWarmUp = mallinfo2().uordblks;
    }
    EXPECT_LE(loop.timersCreated(), settingsChanges + 1)
        << "a timer replaced only when the interval changed";
    EXPECT_EQ(loop.liveTimers(), 1u);
#ifndef QUILLO_ASAN
    const std::size_t heapAtEnd = mallinfo2().uordblks;
    EXPECT_LT(heapAtEnd, heapAfterWarmUp + std::size_t(256) * 1024)
        << "memory grew from " << heapAfterWarmUp << " to " << heapAtEnd;
#endif
    controller.reset();
    EXPECT_EQ(loop.liveTimers(), 0u);
}

}  // namespace
