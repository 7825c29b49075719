#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillo/settings/SettingsSuite.hpp"

namespace quillo {

// The one object through which the panel reads its settings. Nothing is cached:
// every lookup reads the suite as it is at that moment.
class Configuration {
  public:
    const std::string refreshRateKey = "RefreshRate";
    const std::string normalColorKey = "NormalColorKey";
    const std::string warningColorKey = "WarningColorKey";
    const std::string criticalColorKey = "CriticalColorKey";
    const std::unique_ptr<const SettingsSuite> defaults;

    explicit Configuration(std::unique_ptr<const SettingsSuite> suite);
    Configuration(const Configuration&) = delete;
    Configuration& operator=(const Configuration&) = delete;

    // The process-wide instance over the default suite, created on first use.
    static Configuration& shared();

    // A refresh begins: the suite is read now, once, and every lookup until the next
    // refresh answers from that reading. Without it every lookup reads the file.
    void refreshBegins() const { defaults->hold(); }

    // A stored number (an integer counts); anything else is absent.
    std::optional<double> doubleValue(std::string_view forKey) const;

    // A stored list whose every element is a number, in stored order and length.
    std::optional<std::vector<double>> colorComponents(std::string_view forKey) const;
};

}  // namespace quillo
