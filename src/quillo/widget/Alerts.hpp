#pragma once

#include <functional>
#include <string>

#include "quillo/settings/Configuration.hpp"
#include "quillo/widget/HostInterfaces.hpp"

namespace quillo {

// Alerts when a figure crosses the user's threshold: the battery while it discharges
// falls below AlertBatteryBelow, memory or the disk rise above AlertMemoryAbove or
// AlertDiskAbove (percents in the shared suite; 0 turns one off). One alert per
// crossing: it is armed again only once the figure is back 5 points on the good side,
// so a figure that hovers at the line does not alert at every refresh.
class AlertMonitor final : public FigureObserver {
  public:
    struct Alert {
        enum class Kind { battery, memory, disk };
        Kind kind;
        std::string summary;  // "Battery at 15 %"
        std::string body;
        bool critical;  // a battery running out is; a full disk can wait a minute
    };

    AlertMonitor(const Configuration& config, const Localizer& localizer,
                 std::function<void(const Alert&)> deliver);

    void memory(double percent) override;
    void disk(double percent) override;
    void battery(std::optional<double> charge, bool discharging) override;

    // The threshold in force, from the suite or its default; 0 is off.
    double threshold(std::string_view key) const;

  private:
    struct Armed {
        bool armed = true;
    };
    void check(Armed& state, Alert::Kind kind, double value, bool beyond, bool back,
               const char* summary, const char* body);

    const Configuration& config_;
    const Localizer& localizer_;
    std::function<void(const Alert&)> deliver_;
    Armed battery_, memory_, disk_;
};

}  // namespace quillo
