#include "common/Snapshot.hpp"

#include <cmath>

#include "quillo/ui/ProgressBar.hpp"
#include "quillo/widget/Format.hpp"

namespace quillo {

namespace {

nlohmann::ordered_json number(double v) {
    return std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
}

}  // namespace

nlohmann::ordered_json outletStates(const ViewTree& views) {
    nlohmann::ordered_json states = nlohmann::ordered_json::object();
    for (const std::string_view name : TodayViewController::outletNames) {
        const std::string key(name);
        if (const auto bar = views.progressBar(name)) {
            const Color c = bar->tintColor();
            states[key] = {
                {"current", number(bar->current())},
                {"minimum", number(bar->minimum())},
                {"maximum", number(bar->maximum())},
                {"tintColor", {number(c.red), number(c.green), number(c.blue), number(c.alpha)}}};
        } else if (const auto label = views.textField(name)) {
            states[key] = label->stringValue();
        } else {
            states[key] = nullptr;
        }
    }
    return states;
}

std::string outletStatesText(const ViewTree& views) {
    std::string text;
    for (const std::string_view name : TodayViewController::outletNames) {
        std::string value;
        if (const auto bar = views.progressBar(name)) {
            const Color c = bar->tintColor();
            value = formatC(
                "%.2f of %.2f to %.2f, colour %.3f %.3f %.3f %.3f",
                {bar->current(), bar->minimum(), bar->maximum(), c.red, c.green, c.blue, c.alpha});
        } else if (const auto label = views.textField(name)) {
            value = label->stringValue();
        } else {
            continue;
        }
        text += formatC("%@%@ %@\n", {name,
                                      std::string_view("                    ")
                                          .substr(std::min<std::size_t>(name.size(), 20)),
                                      std::string_view(value)});
    }
    return text;
}

std::optional<StoredValue> PinnedIntervalSuite::objectForKey(std::string_view key) const {
    if (key == "RefreshRate") return StoredValue{StoredValue::Kind::number, seconds_, {}, {}};
    return SettingsSuite::objectForKey(key);
}

std::unique_ptr<Timer> TickCountingLoop::scheduledTimer(double interval,
                                                        std::function<void()> fire) {
    return inner_.scheduledTimer(interval, [this, fire = std::move(fire)] {
        fire();
        if (--remaining_ == 0) inner_.async(done_);
    });
}

}  // namespace quillo
