#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "settings/SuiteWriter.hpp"
#include "support/TempDir.hpp"
#include "support/Views.hpp"
#include "ui/ProgressBar.hpp"
#include "widget/TodayViewController.hpp"
#include "widget/VirtualEventLoop.hpp"

using namespace quillo;

namespace {

class Controller : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::filesystem::path suitePath = dir.path() / "suite.json";
    Configuration config{std::make_unique<SettingsSuite>(suitePath)};
    VirtualEventLoop loop;
    IdentityLocalizer localizer;
    test::Views views;
    std::shared_ptr<TodayViewController> controller =
        TodayViewController::initWithCoder(views, {loop, localizer, config});

    void store(std::string_view json) { dir.write("suite.json", json); }
    void setInterval(double seconds) {
        updateSuite(suitePath, [&](SuiteDocument& d) { d["RefreshRate"] = seconds; });
    }
    void update() { controller->widgetPerformUpdateWithCompletionHandler({}); }
    double interval() const { return controller->refreshTimer()->timeInterval(); }
};

TEST_F(Controller, UpdateRequestAnswersNewDataAndSchedulesOneTimer) {
    EXPECT_EQ(controller->refreshTimer(), nullptr);
    std::vector<NCUpdateResult> answers;
    for (int i = 0; i < 5; ++i) {
        controller->widgetPerformUpdateWithCompletionHandler(
            [&](NCUpdateResult r) { answers.push_back(r); });
    }
    EXPECT_EQ(answers, std::vector<NCUpdateResult>(5, NCUpdateResult::NewData));
    EXPECT_EQ(loop.timersCreated(), 1u);
    EXPECT_EQ(loop.liveTimers(), 1u);
    EXPECT_EQ(loop.firings(), 0u) << "the first tick comes one interval after the request";
    loop.advance(1.0);
    EXPECT_EQ(loop.firings(), 1u);
}

TEST_F(Controller, ChangedIntervalReplacesTheTimerOnTheNextTick) {
    setInterval(1);
    update();
    setInterval(5);
    update();  // a request does not touch a running timer
    EXPECT_EQ(interval(), 1.0);
    loop.advance(1.0);
    EXPECT_EQ(loop.firings(), 1u);
    EXPECT_EQ(interval(), 5.0);
    EXPECT_EQ(loop.liveTimers(), 1u);
    loop.advance(4.9);
    EXPECT_EQ(loop.firings(), 1u);
    loop.advance(0.1);
    EXPECT_EQ(loop.firings(), 2u);
    EXPECT_EQ(loop.timersCreated(), 2u);
}

TEST_F(Controller, EqualIntervalNeverRecreatesTheTimer) {
    setInterval(2);
    update();
    loop.advance(20.0);
    EXPECT_EQ(loop.firings(), 10u);
    EXPECT_EQ(loop.timersCreated(), 1u);
}

TEST_F(Controller, MissingOrNonNumericIntervalIsOneSecond) {
    for (const char* suite : {"{}", R"({"RefreshRate": "5"})", R"({"RefreshRate": [5]})", "{"}) {
        store(suite);
        auto c = TodayViewController::initWithNibName(std::nullopt, std::nullopt,
                                                      {loop, localizer, config});
        c->widgetPerformUpdateWithCompletionHandler({});
        EXPECT_EQ(c->refreshTimer()->timeInterval(), 1.0) << suite;
    }
}

TEST_F(Controller, IntervalsThatWouldSpinAreSanitisedOnceAndKept) {
    for (const char* stored : {"0", "-3", "0.001", "1e-300"}) {
        store(std::string(R"({"RefreshRate": )") + stored + "}");
        auto c = TodayViewController::initWithNibName(std::nullopt, std::nullopt,
                                                      {loop, localizer, config});
        VirtualEventLoop& l = loop;
        const std::size_t created = l.timersCreated();
        const std::size_t fired = l.firings();
        c->widgetPerformUpdateWithCompletionHandler({});
        l.advance(10.0);
        EXPECT_LE(l.firings() - fired, 100u) << stored;
        EXPECT_EQ(l.timersCreated() - created, 1u) << stored << ": replaced on every tick";
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(sanitizedRefreshInterval(nan), 1.0);
    EXPECT_EQ(sanitizedRefreshInterval(inf), 1.0);
    EXPECT_EQ(sanitizedRefreshInterval(-inf), 1.0);
    EXPECT_EQ(sanitizedRefreshInterval(0.05), 0.1);
    EXPECT_EQ(sanitizedRefreshInterval(1e12), 86400.0);
    EXPECT_EQ(sanitizedRefreshInterval(0.5), 0.5);
}

TEST_F(Controller, DestructionStopsTheTimerAndLeavesQueuedBlocksHarmless) {
    update();
    loop.advance(1.0);
    const std::size_t fired = loop.firings();
    controller->updateUI(nullptr);  // a tick whose blocks are still queued
    ASSERT_GT(loop.pendingBlocks(), 0u);
    const std::weak_ptr<TodayViewController> weak = controller;
    controller.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(loop.liveTimers(), 0u);
    loop.advance(10.0);
    EXPECT_EQ(loop.firings(), fired);
    EXPECT_EQ(loop.pendingBlocks(), 0u);
}

TEST_F(Controller, DisappearancePrintsOneLineEachAndTicksGoOn) {
    update();
    loop.advance(3.0);
    ::testing::internal::CaptureStdout();
    controller->viewWillDisappear();
    controller->viewDidDisappear();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "View will disappear\nView did disappear\n");
    loop.advance(3.0);
    update();  // the panel shows again
    loop.advance(3.0);
    EXPECT_EQ(loop.firings(), 9u);
    EXPECT_EQ(loop.timersCreated(), 1u);
}

TEST_F(Controller, FixedMarginsAndInterfaceFileName) {
    EXPECT_EQ(controller->widgetMarginInsetsForProposedMarginInsets({0, 100, 3.5, -2}),
              (NSEdgeInsets{8.0, 8.0, 8.0, 8.0}));
    EXPECT_EQ(TodayViewController::nibName(), "TodayViewController");
}

TEST_F(Controller, OutletsConnectByNameAndStayWeak) {
    EXPECT_EQ(controller->batteryTitleLabal.lock(), views.labels.at("batteryTitleLabal"));
    EXPECT_EQ(controller->hddProgressBar.lock(), views.bars.at("hddProgressBar"));
    views.labels.erase("uptimeLabel");
    EXPECT_TRUE(controller->uptimeLabel.expired());

    test::Views partial;
    std::erase_if(partial.labels, [](const auto& l) { return l.first != "loadLabel"; });
    partial.bars.clear();
    auto c = TodayViewController::initWithCoder(partial, {loop, localizer, config});
    EXPECT_FALSE(c->loadLabel.expired());
    EXPECT_TRUE(c->cpuPercentLabel.expired());
}

}  // namespace
