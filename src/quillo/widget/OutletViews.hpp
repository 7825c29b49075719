#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "quillo/ui/ProgressBar.hpp"
#include "quillo/widget/TodayViewController.hpp"

namespace quillo {

// The fifteen outlets' views by name, each made by the host: a window finds its
// widgets, the terminal makes cells, snapshots and tests make plain views. A factory
// that returns nothing leaves that outlet unconnected.
class OutletViews final : public ViewTree {
  public:
    using BarFactory = std::function<std::shared_ptr<ProgressBar>(std::string_view name)>;
    using LabelFactory = std::function<std::shared_ptr<TextField>(std::string_view name)>;

    // Plain bars and labels with nothing behind them.
    OutletViews();
    OutletViews(const BarFactory& bar, const LabelFactory& label);

    std::shared_ptr<TextField> textField(std::string_view name) const override;
    std::shared_ptr<ProgressBar> progressBar(std::string_view name) const override;

    // The label's text, empty when there is no such label.
    std::string text(std::string_view name) const;

  private:
    std::map<std::string, std::shared_ptr<TextField>, std::less<>> labels_;
    std::map<std::string, std::shared_ptr<ProgressBar>, std::less<>> bars_;
};

}  // namespace quillo
