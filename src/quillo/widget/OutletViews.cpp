#include "quillo/widget/OutletViews.hpp"

namespace quillo {

OutletViews::OutletViews()
    : OutletViews([](std::string_view) { return std::make_shared<ProgressBar>(); },
                  [](std::string_view) { return std::make_shared<PlainTextField>(); }) {}

OutletViews::OutletViews(const BarFactory& bar, const LabelFactory& label) {
    for (const std::string_view name : TodayViewController::outletNames) {
        if (name.ends_with("Bar")) {
            if (auto view = bar(name)) bars_.emplace(name, std::move(view));
        } else if (auto view = label(name)) {
            labels_.emplace(name, std::move(view));
        }
    }
}

std::shared_ptr<TextField> OutletViews::textField(std::string_view name) const {
    const auto it = labels_.find(name);
    return it == labels_.end() ? nullptr : it->second;
}

std::shared_ptr<ProgressBar> OutletViews::progressBar(std::string_view name) const {
    const auto it = bars_.find(name);
    return it == bars_.end() ? nullptr : it->second;
}

std::string OutletViews::text(std::string_view name) const {
    const auto label = textField(name);
    return label ? label->stringValue() : std::string();
}

}  // namespace quillo
