#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "quillo/settings/SuiteWriter.hpp"
#include "quillo/ui/Theme.hpp"
#include "quillo/widget/VirtualEventLoop.hpp"
#include "support/FakePlatform.hpp"
#include "support/TempDir.hpp"
#include "support/Views.hpp"

namespace quillo::test {

// The real controller over a fake machine, its own settings file and a virtual clock.
class PanelTest : public ::testing::Test {
  protected:
    FakePlatform platform;
    TempDir dir;
    std::filesystem::path suitePath = dir.path() / "suite.json";
    Configuration config{std::make_unique<SettingsSuite>(suitePath)};
    VirtualEventLoop loop;
    IdentityLocalizer localizer;
    Views views;
    std::shared_ptr<TodayViewController> controller =
        TodayViewController::initWithCoder(views, {loop, localizer, config});

    void setting(const char* key, const nlohmann::json& value) {
        updateSuite(suitePath, [&](SuiteText& s) { s.set(key, value.dump()); });
    }
    void update() { controller->widgetPerformUpdateWithCompletionHandler({}); }
    void tick(double seconds = 1.0) { loop.advance(seconds); }
    std::string text(std::string_view name) const { return views.text(name); }
    ProgressBar& bar(std::string_view name) const { return views.bar(name); }
};

}  // namespace quillo::test
