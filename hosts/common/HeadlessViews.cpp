#include "common/HeadlessViews.hpp"

#include <cmath>
#include <cstdio>

#include "widget/Format.hpp"

namespace quillo {

namespace {

nlohmann::ordered_json number(double v) {
    return std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
}

}  // namespace

HeadlessViews::HeadlessViews(std::string batteryTitle) {
    for (const std::string_view name : TodayViewController::outletNames) {
        if (name.ends_with("Bar")) {
            bars_.emplace(name, std::make_shared<ProgressBar>());
        } else {
            labels_.emplace(name, std::make_shared<PlainTextField>());
        }
    }
    labels_.at("batteryTitleLabal")->setStringValue(std::move(batteryTitle));
}

std::shared_ptr<TextField> HeadlessViews::textField(std::string_view name) const {
    const auto it = labels_.find(name);
    return it == labels_.end() ? nullptr : it->second;
}

std::shared_ptr<ProgressBar> HeadlessViews::progressBar(std::string_view name) const {
    const auto it = bars_.find(name);
    return it == bars_.end() ? nullptr : it->second;
}

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

std::unique_ptr<Timer> TickCountingLoop::scheduledTimer(double interval,
                                                        std::function<void()> fire) {
    return inner_.scheduledTimer(interval, [this, fire = std::move(fire)] {
        fire();
        if (--remaining_ == 0) inner_.async(done_);
    });
}

}  // namespace quillo
