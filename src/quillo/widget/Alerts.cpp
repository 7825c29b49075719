#include "quillo/widget/Alerts.hpp"

#include <algorithm>
#include <cmath>

#include "quillo/settings/Keys.hpp"
#include "quillo/widget/Format.hpp"

namespace quillo {

namespace {

constexpr double rearmDistance = 5.0;

}  // namespace

AlertMonitor::AlertMonitor(const Configuration& config, const Localizer& localizer,
                           std::function<void(const Alert&)> deliver)
    : config_(config), localizer_(localizer), deliver_(std::move(deliver)) {}

double AlertMonitor::threshold(std::string_view key) const {
    const SettingKey* known = findSettingKey(key);
    const double fallback = known ? known->defaultNumber : 0.0;
    const double stored = config_.doubleValue(key).value_or(fallback);
    return std::isfinite(stored) ? std::clamp(stored, 0.0, 100.0) : fallback;
}

void AlertMonitor::check(Armed& state, Alert::Kind kind, double value, bool beyond, bool back,
                         const char* summary, const char* body) {
    if (back) state.armed = true;
    if (!beyond || !state.armed) return;
    state.armed = false;
    std::string text = localizer_.localizedString(summary);
    if (conversionsOf(text) != conversionsOf(summary)) text = summary;
    deliver_({kind, formatC(text, {value}), localizer_.localizedString(body),
              kind == Alert::Kind::battery});
}

void AlertMonitor::memory(double p) {
    const double line = threshold("AlertMemoryAbove");
    if (line <= 0 || !std::isfinite(p)) return;
    check(memory_, Alert::Kind::memory, p, p > line, p <= line - rearmDistance, "Memory at %.0f %%",
          "Programs may slow down: close the ones you do not need.");
}

void AlertMonitor::disk(double p) {
    const double line = threshold("AlertDiskAbove");
    if (line <= 0 || !std::isfinite(p)) return;
    check(disk_, Alert::Kind::disk, p, p > line, p <= line - rearmDistance, "Disk at %.0f %%",
          "The start-up disk is nearly full: free some space.");
}

void AlertMonitor::battery(std::optional<double> charge, bool discharging) {
    const double line = threshold("AlertBatteryBelow");
    if (line <= 0 || !charge || !std::isfinite(*charge)) return;
    check(battery_, Alert::Kind::battery, *charge, discharging && *charge < line,
          *charge >= line + rearmDistance, "Battery at %.0f %%", "Plug in the charger soon.");
}

}  // namespace quillo
