#include <limits>

#include "support/Panel.hpp"

using namespace quillo;

namespace {

class Controller : public test::PanelTest {
  protected:
    double interval() const { return controller->refreshTimer()->timeInterval(); }
};

TEST_F(Controller, UpdateRequestsAnswerNewDataAndScheduleOneTimer) {
    EXPECT_EQ(controller->refreshTimer(), nullptr);
    std::vector<NCUpdateResult> answers;
    for (int i = 0; i < 5; ++i) {
        controller->widgetPerformUpdateWithCompletionHandler(
            [&](NCUpdateResult r) { answers.push_back(r); });
    }
    EXPECT_EQ(answers, std::vector<NCUpdateResult>(5, NCUpdateResult::NewData));
    EXPECT_EQ(loop.timersCreated(), 1u);
    EXPECT_EQ(loop.firings(), 0u) << "the first tick comes one interval after the request";
    tick();
    EXPECT_EQ(loop.firings(), 1u);
    EXPECT_EQ(controller->widgetMarginInsetsForProposedMarginInsets({0, 100, 3.5, -2}),
              (NSEdgeInsets{8, 8, 8, 8}));
}

TEST_F(Controller, ChangedIntervalReplacesTheTimerOnTheNextTickOnly) {
    setting("RefreshRate", 1);
    update();
    setting("RefreshRate", 5);
    update();
    EXPECT_EQ(interval(), 1.0) << "a request leaves a running timer alone";
    tick();
    EXPECT_EQ(interval(), 5.0);
    tick(4.9);
    EXPECT_EQ(loop.firings(), 1u);
    tick(0.1);
    EXPECT_EQ(loop.firings(), 2u);
    tick(50);
    EXPECT_EQ(loop.timersCreated(), 2u) << "an equal interval never recreates the timer";
}

TEST_F(Controller, MissingOrNonNumericIntervalIsOneSecond) {
    for (const char* suite : {"{}", R"({"RefreshRate": "5"})", R"({"RefreshRate": [5]})", "{"}) {
        dir.write("suite.json", suite);
        auto c = TodayViewController::initWithNibName(std::nullopt, std::nullopt,
                                                      {loop, localizer, config});
        c->widgetPerformUpdateWithCompletionHandler({});
        EXPECT_EQ(c->refreshTimer()->timeInterval(), 1.0) << suite;
    }
}

TEST_F(Controller, IntervalsThatWouldSpinAreSanitisedOnceAndKept) {
    for (const char* stored : {"0", "-3", "0.001", "1e-300"}) {
        dir.write("suite.json", std::string(R"({"RefreshRate": )") + stored + "}");
        auto c = TodayViewController::initWithNibName(std::nullopt, std::nullopt,
                                                      {loop, localizer, config});
        const std::size_t created = loop.timersCreated(), fired = loop.firings();
        c->widgetPerformUpdateWithCompletionHandler({});
        tick(10);
        EXPECT_LE(loop.firings() - fired, 100u) << stored;
        EXPECT_EQ(loop.timersCreated() - created, 1u) << stored << ": replaced on every tick";
    }
    const double inf = std::numeric_limits<double>::infinity();
    for (const double odd : {std::nan(""), inf, -inf})
        EXPECT_EQ(sanitizedRefreshInterval(odd), 1.0);
    EXPECT_EQ(sanitizedRefreshInterval(0.05), 0.1);
    EXPECT_EQ(sanitizedRefreshInterval(1e12), 86400.0);
}

TEST_F(Controller, DestructionStopsTheTimerAndLeavesQueuedBlocksHarmless) {
    update();
    tick();
    controller->updateUI(nullptr);  // a tick whose blocks are still queued
    ASSERT_GT(loop.pendingBlocks(), 0u);
    views.journal->clear();
    controller.reset();
    EXPECT_EQ(loop.liveTimers(), 0u);
    tick(10);
    EXPECT_EQ(loop.firings(), 1u);
    EXPECT_TRUE(views.journal->empty()) << "the blocks of a gone controller write nothing";
}

TEST_F(Controller, DisappearanceWritesNothingToStandardOutputAndTicksGoOn) {
    update();
    tick(3);
    ::testing::internal::CaptureStdout();
    controller->viewWillDisappear();
    controller->viewDidDisappear();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "where a piped panel's frames go";
    tick(3);
    update();  // shown again
    tick(3);
    EXPECT_EQ(loop.firings(), 9u);
    EXPECT_EQ(loop.timersCreated(), 1u);
}

TEST_F(Controller, OutletsConnectByNameAndStayWeak) {
    EXPECT_EQ(controller->batteryTitleLabal.lock(), views.textField("batteryTitleLabal"));
    const auto c = [&] {
        const OutletViews only([](std::string_view) { return nullptr; },
                               [](std::string_view name) -> std::shared_ptr<TextField> {
                                   if (name != "loadLabel") return nullptr;
                                   return std::make_shared<PlainTextField>();
                               });
        auto made = TodayViewController::initWithCoder(only, {loop, localizer, config});
        EXPECT_FALSE(made->loadLabel.expired());
        EXPECT_TRUE(made->cpuPercentLabel.expired());
        return made;
    }();
    EXPECT_TRUE(c->loadLabel.expired()) << "the views' owner let them go";
}

}  // namespace
