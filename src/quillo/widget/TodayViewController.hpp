#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "quillo/metrics/DataUsage.hpp"
#include "quillo/metrics/System.hpp"
#include "quillo/settings/Configuration.hpp"
#include "quillo/widget/HostInterfaces.hpp"

namespace quillo {

class ProgressBar;

enum class NCUpdateResult : int { NewData = 0, NoData = 1, Failed = 2 };

struct NSEdgeInsets {
    double top = 0.0;
    double left = 0.0;
    double bottom = 0.0;
    double right = 0.0;
    friend bool operator==(const NSEdgeInsets&, const NSEdgeInsets&) = default;
};

// The views an interface file created, found by their object names. The host owns
// them; the controller keeps only weak references.
class ViewTree {
  public:
    virtual ~ViewTree() = default;
    virtual std::shared_ptr<TextField> textField(std::string_view name) const = 0;
    virtual std::shared_ptr<ProgressBar> progressBar(std::string_view name) const = 0;
};

// What a host lends the controller for its lifetime.
struct ControllerHost {
    EventLoop& loop;
    const Localizer& localizer;
    Configuration& config = Configuration::shared();
    FigureObserver* observer = nullptr;
};

// The panel's controller. Hosts create it through one of the two initialisers, ask it
// to update whenever the panel is about to show, tell it when the panel disappears,
// and destroy it; between an update request and destruction a repeating timer runs
// one update cycle per refresh interval.
class TodayViewController : public std::enable_shared_from_this<TodayViewController> {
    struct Passkey {};

  public:
    // Outlets, connected by name; every display write checks that its view still exists.
    std::weak_ptr<ProgressBar> cpuProgressBar;
    std::weak_ptr<TextField> cpuPercentLabel;
    std::weak_ptr<ProgressBar> memoryProgressBar;
    std::weak_ptr<TextField> memoryPercentLabel;
    std::weak_ptr<ProgressBar> hddProgressBar;
    std::weak_ptr<TextField> hddPercentLabel;
    std::weak_ptr<TextField> downloadLabel;
    std::weak_ptr<TextField> uploadLabel;
    std::weak_ptr<TextField> loadLabel;
    std::weak_ptr<TextField> uptimeLabel;
    std::weak_ptr<TextField> batteryTitleLabal;
    std::weak_ptr<TextField> batteryPercentLabel;
    std::weak_ptr<ProgressBar> batteryProgressBar;
    std::weak_ptr<TextField> batteryTimeLabel;
    std::weak_ptr<TextField> batteryInfoLabel;

  private:
    std::unique_ptr<Timer> timer;
    System sys = System::init();
    std::optional<data_usage> previousDataUsage;
    std::optional<std::string> currentInterface;
    Configuration* config;

    // The interface whose counters previousDataUsage holds: a difference is only ever
    // taken between two samples of one interface.
    std::string dataUsageInterface_;
    // When previousDataUsage was read, on the loop's clock: a difference is divided by
    // the time the two samples were really apart, whatever the interval, a stop of the
    // process or the ticks that had no interface.
    double dataUsageTakenAt_ = 0.0;

  public:
    TodayViewController(Passkey, const ControllerHost& host);
    TodayViewController(const TodayViewController&) = delete;
    TodayViewController& operator=(const TodayViewController&) = delete;
    ~TodayViewController();

    static std::shared_ptr<TodayViewController> initWithNibName(
        const std::optional<std::string>& nibNameOrNil, const std::optional<std::string>& bundle,
        const ControllerHost& host);
    // Decoding from an interface file: the outlets are connected from the decoded views.
    static std::shared_ptr<TodayViewController> initWithCoder(const ViewTree& coder,
                                                              const ControllerHost& host);

    static std::string_view nibName() { return "TodayViewController"; }
    static constexpr std::string_view outletNames[] = {
        "cpuProgressBar",     "cpuPercentLabel",  "memoryProgressBar", "memoryPercentLabel",
        "hddProgressBar",     "hddPercentLabel",  "downloadLabel",     "uploadLabel",
        "loadLabel",          "uptimeLabel",      "batteryTitleLabal", "batteryPercentLabel",
        "batteryProgressBar", "batteryTimeLabel", "batteryInfoLabel"};

    // Connects every outlet whose view the tree holds under the outlet's name.
    void connectOutlets(const ViewTree& views);

    void widgetPerformUpdateWithCompletionHandler(
        const std::function<void(NCUpdateResult)>& completionHandler);
    // The routes changed: the interface to measure is found again, and nothing else
    // happens (the CPU keeps its baseline, unlike after an update request).
    void networkConfigurationDidChange();
    // The settings file changed: while the panel shows, it refreshes now, with the new
    // refresh interval and colours, rather than at a tick that may be a day away.
    void settingsDidChange();
    NSEdgeInsets widgetMarginInsetsForProposedMarginInsets(NSEdgeInsets proposed) const;
    void viewWillDisappear();
    void viewDidDisappear();
    void updateUI(const Timer* firing);

    const Timer* refreshTimer() const { return timer.get(); }
    const std::optional<std::string>& measuredInterface() const { return currentInterface; }
    const Configuration& configuration() const { return *config; }

  private:
    double refreshInterval() const;
    void scheduleTimer(double interval);
    void rescheduleTimerIfNeeded();

    // Queues a block that runs only if this controller still exists then.
    void enqueue(std::function<void(TodayViewController&)> block);

    // A localised format, or its key when the translation would take other arguments.
    std::string localizedFormat(std::string_view key) const;

    std::string batteryInformation(const struct Battery& battery) const;
    void updateCPUAndMemory();
    void discoverInterface();
    void networkStep();
    void loadAverageAndUptimeStep();

  public:
    void updateDiskUsage();
    void updateBattery();

  private:
    EventLoop& loop_;
    const Localizer& localizer_;
    FigureObserver* observer_;
};

// The interval the timer really gets. A stored value that is absent, not finite, zero
// or negative means nothing sensible and gives the default of one second; a positive
// value is held between 0.1 s, below which a monitor would spin the machine it
// watches, and one day. The same value schedules the timer and is compared with it on
// every tick, so an adjusted interval never replaces the timer again and again.
double sanitizedRefreshInterval(std::optional<double> stored);

}  // namespace quillo
