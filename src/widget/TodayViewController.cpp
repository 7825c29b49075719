#include "widget/TodayViewController.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "settings/RefreshRate.hpp"
#include "ui/ProgressBar.hpp"

namespace quillo {

namespace {

void printLine(const char* line) {
    std::puts(line);
    std::fflush(stdout);
}

}  // namespace

double sanitizedRefreshInterval(std::optional<double> stored) {
    if (!stored || !std::isfinite(*stored) || *stored <= 0.0) return defaultRefreshInterval;
    return std::clamp(*stored, minimumRefreshInterval, maximumRefreshInterval);
}

TodayViewController::TodayViewController(Passkey, const ControllerHost& host)
    : config(&host.config), loop_(host.loop), localizer_(host.localizer) {}

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
    sys = System::init();
    currentInterface.reset();
    if (!timer) scheduleTimer(refreshInterval());
    if (completionHandler) completionHandler(NCUpdateResult::NewData);
}

NSEdgeInsets TodayViewController::widgetMarginInsetsForProposedMarginInsets(NSEdgeInsets) const {
    return {8.0, 8.0, 8.0, 8.0};
}

void TodayViewController::viewWillDisappear() {
    printLine("View will disappear");
}

void TodayViewController::viewDidDisappear() {
    printLine("View did disappear");
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

void TodayViewController::updateUI(const Timer*) {
    rescheduleTimerIfNeeded();
    enqueue([](TodayViewController& self) { self.updateCPUAndMemory(); });
    networkStep();
    loadAverageAndUptimeStep();
    enqueue([](TodayViewController& self) {
        self.updateDiskUsage();
        self.updateBattery();
    });
}

void TodayViewController::updateCPUAndMemory() {}
void TodayViewController::networkStep() {}
void TodayViewController::loadAverageAndUptimeStep() {}
void TodayViewController::updateDiskUsage() {}
void TodayViewController::updateBattery() {}

}  // namespace quillo
