#include "quillo/widget/TodayViewController.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "quillo/metrics/Battery.hpp"
#include "quillo/metrics/Device.hpp"
#include "quillo/metrics/System.hpp"
#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Platform.hpp"
#include "quillo/settings/RefreshRate.hpp"
#include "quillo/ui/ProgressBar.hpp"
#include "quillo/widget/Format.hpp"
#include "quillo/widget/Levels.hpp"

namespace quillo {

double sanitizedRefreshInterval(std::optional<double> stored) {
    if (!stored || !std::isfinite(*stored) || *stored <= 0.0) return defaultRefreshInterval;
    return std::clamp(*stored, minimumRefreshInterval, maximumRefreshInterval);
}

TodayViewController::TodayViewController(Passkey, const ControllerHost& host)
    : config(&host.config),
      loop_(host.loop),
      localizer_(host.localizer),
      observer_(host.observer) {}

TodayViewController::~TodayViewController() {
    if (timer) timer->invalidate();
    timer.reset();
}

std::shared_ptr<TodayViewController> TodayViewController::initWithNibName(
    const std::optional<std::string>&, const std::optional<std::string>&,
    const ControllerHost& host) {
    return std::make_shared<TodayViewController>(Passkey{}, host);
}

std::shared_ptr<TodayViewController> TodayViewController::initWithCoder(
    const ViewTree& coder, const ControllerHost& host) {
    auto controller = std::make_shared<TodayViewController>(Passkey{}, host);
    controller->connectOutlets(coder);
    return controller;
}

void TodayViewController::connectOutlets(const ViewTree& views) {
    const auto bar = [&](std::weak_ptr<ProgressBar>& outlet, std::string_view name) {
        if (auto view = views.progressBar(name)) outlet = view;
    };
    const auto label = [&](std::weak_ptr<TextField>& outlet, std::string_view name) {
        if (auto view = views.textField(name)) outlet = view;
    };
    bar(cpuProgressBar, "cpuProgressBar");
    label(cpuPercentLabel, "cpuPercentLabel");
    bar(memoryProgressBar, "memoryProgressBar");
    label(memoryPercentLabel, "memoryPercentLabel");
    bar(hddProgressBar, "hddProgressBar");
    label(hddPercentLabel, "hddPercentLabel");
    label(downloadLabel, "downloadLabel");
    label(uploadLabel, "uploadLabel");
    label(loadLabel, "loadLabel");
    label(uptimeLabel, "uptimeLabel");
    label(batteryTitleLabal, "batteryTitleLabal");
    label(batteryPercentLabel, "batteryPercentLabel");
    bar(batteryProgressBar, "batteryProgressBar");
    label(batteryTimeLabel, "batteryTimeLabel");
    label(batteryInfoLabel, "batteryInfoLabel");
}

double TodayViewController::refreshInterval() const {
    return sanitizedRefreshInterval(config->doubleValue(config->refreshRateKey));
}

void TodayViewController::scheduleTimer(double interval) {
    timer = loop_.scheduledTimer(interval, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->updateUI(self->timer.get());
    });
}

void TodayViewController::widgetPerformUpdateWithCompletionHandler(
    const std::function<void(NCUpdateResult)>& completionHandler) {
    // The baseline is taken now, so that the first tick shows the CPU's use over its
    // interval rather than the 0 % of an unprimed sample (top's first screen does so too).
    sys = System::init();
    sys.usageCPU();
    discoverInterface();
    config->refreshBegins();
    if (!timer) scheduleTimer(refreshInterval());
    if (completionHandler) completionHandler(NCUpdateResult::NewData);
}

NSEdgeInsets TodayViewController::widgetMarginInsetsForProposedMarginInsets(NSEdgeInsets) const {
    return {8.0, 8.0, 8.0, 8.0};
}

void TodayViewController::viewWillDisappear() {
    debug::event("View will disappear");
}

void TodayViewController::viewDidDisappear() {
    debug::event("View did disappear");
}

void TodayViewController::rescheduleTimerIfNeeded() {
    const double interval = refreshInterval();
    if (timer && timer->timeInterval() == interval) return;
    if (timer) timer->invalidate();
    scheduleTimer(interval);
}

void TodayViewController::enqueue(std::function<void(TodayViewController&)> block) {
    loop_.async([weak = weak_from_this(), block = std::move(block)] {
        if (auto self = weak.lock()) block(*self);
    });
}

void TodayViewController::updateUI(const Timer* /*firing*/) {
    config->refreshBegins();
    rescheduleTimerIfNeeded();
    enqueue([](TodayViewController& self) { self.updateCPUAndMemory(); });
    networkStep();
    loadAverageAndUptimeStep();
    enqueue([](TodayViewController& self) {
        self.updateDiskUsage();
        self.updateBattery();
        if (self.observer_) self.observer_->refreshed();
    });
}

std::string TodayViewController::localizedFormat(std::string_view key) const {
    std::string text = localizer_.localizedString(key);
    if (conversionsOf(text) != conversionsOf(key)) return std::string(key);
    return text;
}

namespace {

// Writes a percentage row: the bar's value, the label's text, then the bar's colour,
// each only where the view still exists.
void showPercentage(const std::weak_ptr<ProgressBar>& barOutlet,
                    const std::weak_ptr<TextField>& labelOutlet, double percent,
                    const Configuration& config) {
    const auto bar = barOutlet.lock();
    if (bar) bar->setCurrent(percent);
    if (const auto label = labelOutlet.lock()) label->setStringValue(formatC("%.0f%%", {percent}));
    if (bar) bar->setTintColor(levelColor(usageColorLevel(percent), config));
}

// A byte count a double holds exactly, as the disk row requires of both sizes.
std::optional<double> exactDouble(std::uint64_t bytes) {
    const double d = double(bytes);
    if (d >= 18446744073709551616.0 || std::uint64_t(d) != bytes) return std::nullopt;
    return d;
}

}  // namespace

void TodayViewController::updateCPUAndMemory() {
    const double cpu = 100.0 - sys.usageCPU().idle;
    showPercentage(cpuProgressBar, cpuPercentLabel, cpu, *config);
    if (observer_) observer_->cpu(cpu);

    const System::MemoryUsage usage = System::memoryUsage();
    const double total = System::physicalMemory();
    // No installed memory is a failed read, not a machine: the row keeps what it showed.
    if (!(total > 0.0)) return;
    const double used = (usage.active + usage.wired) + usage.compressed;
    const double memory = used * 100.0 / total;
    showPercentage(memoryProgressBar, memoryPercentLabel, memory, *config);
    if (observer_) observer_->memory(memory);
}

void TodayViewController::discoverInterface() {
    currentInterface = primaryInterfaceToMeasure();
}

void TodayViewController::networkConfigurationDidChange() {
    discoverInterface();
}

void TodayViewController::settingsDidChange() {
    if (timer) updateUI(timer.get());
}

namespace {

// Bytes over the seconds they took, per second; exact when the seconds are one.
std::uint64_t perSecond(std::uint64_t bytes, double seconds) {
    if (seconds == 1.0 || !(seconds > 0.0)) return bytes;
    const double rate = std::round(double(bytes) / seconds);
    return rate >= 18446744073709551616.0 ? UINT64_MAX : std::uint64_t(rate);
}

}  // namespace

void TodayViewController::networkStep() {
    if (!currentInterface) {
        enqueue([](TodayViewController& self) {
            if (const auto label = self.downloadLabel.lock()) label->setStringValue("--");
            if (const auto label = self.uploadLabel.lock()) label->setStringValue("--");
        });
        return;
    }
    const data_usage current = get_data_usage(currentInterface->c_str());
    const double takenAt = loop_.now();
    std::uint64_t download = 0;
    std::uint64_t upload = 0;
    // Zero counters are how a failed read looks: the tick shows 0 B/s and the baseline
    // stays, so the next good sample is measured against the last good one.
    const bool failed = current == data_usage{};
    // A difference between two interfaces' counters means nothing, and a counter below
    // the stored one means the counters restarted: either way the tick shows 0 B/s and
    // the new counters become the baseline, rather than a bogus or wrapped-around rate.
    const bool comparable = previousDataUsage && dataUsageInterface_ == *currentInterface &&
                            current.download >= previousDataUsage->download &&
                            current.upload >= previousDataUsage->upload;
    if (!failed && comparable) {
        const double seconds = takenAt - dataUsageTakenAt_;
        download = perSecond(current.download - previousDataUsage->download, seconds);
        upload = perSecond(current.upload - previousDataUsage->upload, seconds);
    }
    enqueue([down = formatRate(download), up = formatRate(upload)](TodayViewController& self) {
        if (const auto label = self.downloadLabel.lock()) label->setStringValue(down);
        if (const auto label = self.uploadLabel.lock()) label->setStringValue(up);
    });
    if (failed) return;
    previousDataUsage = current;
    dataUsageInterface_ = *currentInterface;
    dataUsageTakenAt_ = takenAt;
}

void TodayViewController::loadAverageAndUptimeStep() {
    const std::array<double, 3> averages = System::loadAverage();
    const std::string joined = formatC("%.2f %.2f %.2f", {averages[0], averages[1], averages[2]});
    std::string loadLine = formatC(localizedFormat("Load Average: %@"), {std::string_view(joined)});

    const System::Uptime up = System::uptime();
    std::string uptimeLine =
        formatC(localizedFormat("Uptime: %dd %dh %dm %ds"), {up.days, up.hrs, up.mins, up.secs});

    enqueue([loadLine = std::move(loadLine),
             uptimeLine = std::move(uptimeLine)](TodayViewController& self) {
        if (const auto label = self.loadLabel.lock()) label->setStringValue(loadLine);
        if (const auto label = self.uptimeLabel.lock()) label->setStringValue(uptimeLine);
    });
}

void TodayViewController::updateDiskUsage() {
    const auto attributes = currentPlatform().fileSystemAttributes("/");
    if (!attributes) return;
    const auto size = exactDouble(attributes->size);
    const auto free = exactDouble(attributes->freeSize);
    if (!size || !free) return;
    const double disk = (*size - *free) * 100.0 / *size;
    showPercentage(hddProgressBar, hddPercentLabel, disk, *config);
    if (observer_) observer_->disk(disk);
}

namespace {

// Maximum over design capacity in whole percent, truncated; absent where the figure
// has no meaning (no design capacity) or does not fit 64 bits.
std::optional<std::int64_t> health(std::optional<std::int64_t> maximum,
                                   std::optional<std::int64_t> design) {
    std::int64_t scaled = 0;
    if (!maximum || !design || *design == 0 || __builtin_mul_overflow(*maximum, 100, &scaled)) {
        return std::nullopt;
    }
    if (scaled == INT64_MIN && *design == -1) return std::nullopt;
    return scaled / *design;
}

}  // namespace

// The information line names what the battery publishes. Most Linux batteries publish
// no temperature, so that case has a key of its own; with less known still, the line
// is made of the parts that are known, and nothing is made up for the rest.
std::string TodayViewController::batteryInformation(const Battery& battery) const {
    const auto maximum = battery.maxCapactiy();
    const auto design = battery.designCapacity();
    const auto cycles = battery.cycleCount();
    const auto temperature = battery.temperature();
    const auto healthy = health(maximum, design);
    if (cycles && healthy && temperature) {
        return formatC(localizedFormat("%d cycles, %d%% healthy, %.0f\u2103"),
                       {*cycles, *healthy, *temperature});
    }
    if (cycles && healthy) {
        return formatC(localizedFormat("%d cycles, %d%% healthy"), {*cycles, *healthy});
    }
    std::string line;
    const auto add = [&line](const std::string& part) {
        if (!line.empty()) line += ", ";
        line += part;
    };
    if (cycles) add(formatC(localizedFormat("%d cycles"), {*cycles}));
    if (healthy) add(formatC(localizedFormat("%d%% healthy"), {*healthy}));
    if (temperature) add(formatC(localizedFormat("%.0f\u2103"), {*temperature}));
    return line;
}

void TodayViewController::updateBattery() {
    const auto info = batteryInfoLabel.lock();
    const auto percent = batteryPercentLabel.lock();
    const auto bar = batteryProgressBar.lock();
    const auto time = batteryTimeLabel.lock();

    Battery battery = Battery::init();
    if (battery.open() != kIOReturnSuccess) {
        if (info) info->setStringValue(localizer_.localizedString("Battery not exists."));
        if (percent) percent->setStringValue("0%");
        if (bar) {
            bar->setCurrent(100.0);
            bar->setTintColor(lightGrayColor);
        }
        if (time) time->setStringValue(localizer_.localizedString("AC Power"));
        battery.close();
        if (observer_) observer_->battery(std::nullopt, false);
        if (observer_) observer_->batteryPower(std::nullopt, std::nullopt);
        return;
    }

    if (info) info->setStringValue(batteryInformation(battery));

    // A charge the battery does not publish leaves the row as it was.
    const auto c = battery.charge();
    if (c) {
        if (percent) percent->setStringValue(formatC("%.1f%%", {*c}));
        if (bar) {
            bar->setCurrent(*c);
            bar->setTintColor(levelColor(batteryColorLevel(*c), *config));
        }
    }

    const bool charging = battery.isCharging().value_or(false);
    const bool onAC = battery.isACPowered().value_or(false);
    if (observer_) {
        observer_->battery(c, !charging && !onAC);
        observer_->batteryPower(battery.watts(), battery.isACPowered());
    }
    if (time) {
        if (charging) {
            time->setStringValue(localizer_.localizedString("Charging"));
        } else if (onAC) {
            time->setStringValue(localizer_.localizedString("AC Power"));
        } else {
            // While the kernel cannot yet tell the time left, say so rather than show
            // the last figure.
            time->setStringValue(battery.timeRemainingFormatted().value_or("--"));
        }
    }
    battery.close();
}

}  // namespace quillo
