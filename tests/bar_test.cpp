#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <variant>

#include "settings/SuiteWriter.hpp"
#include "support/FakePlatform.hpp"
#include "support/TempDir.hpp"
#include "ui/ProgressBar.hpp"
#include "ui/Theme.hpp"

using namespace quillo;

namespace {

struct RoundedStroke {
    Rect rect;
    double radius, width;
    Color color;
};
struct RoundedFill {
    Rect rect;
    double radius;
    Color color;
};
struct Line {
    Point from, to;
    double width;
    Color color;
};

// Keeps every operation, and fails the test on any number that is not finite.
class RecordingCanvas final : public Canvas {
  public:
    std::vector<RoundedStroke> strokes;
    std::vector<RoundedFill> fills;
    std::vector<Line> lines;
    int depth = 0;
    std::vector<std::string> order;

    void saveGraphicsState() override { ++depth; }
    void restoreGraphicsState() override { --depth; }
    void strokeRoundedRect(const Rect& r, double radius, double w, const Color& c) override {
        check({r.x, r.y, r.width, r.height, radius, w});
        strokes.push_back({r, radius, w, c});
        order.push_back("stroke");
    }
    void fillRoundedRect(const Rect& r, double radius, const Color& c) override {
        check({r.x, r.y, r.width, r.height, radius});
        fills.push_back({r, radius, c});
        order.push_back("fill");
    }
    void strokeRoundCappedLine(const Point& a, const Point& b, double w, const Color& c) override {
        check({a.x, a.y, b.x, b.y, w});
        lines.push_back({a, b, w, c});
        order.push_back("line");
    }

  private:
    static void check(std::initializer_list<double> values) {
        for (const double v : values) EXPECT_TRUE(std::isfinite(v)) << "a non-finite coordinate";
    }
};

RecordingCanvas drawn(const ProgressBar& bar, double w = 200, double h = 20) {
    RecordingCanvas canvas;
    bar.draw(canvas, w, h);
    EXPECT_EQ(canvas.depth, 0) << "every save is restored";
    return canvas;
}

TEST(ProgressBar, DefaultTrackAndNoStrokeAtMinimum) {
    const RecordingCanvas c = drawn(ProgressBar{});
    ASSERT_EQ(c.strokes.size(), 1u);
    EXPECT_EQ(c.strokes[0].rect, (Rect{0.5, 6.5, 199, 7}));
    EXPECT_EQ(c.strokes[0].radius, 3.25);
    EXPECT_EQ(c.strokes[0].width, 1.0);
    EXPECT_EQ(c.strokes[0].color, (Color{0.75, 0.75, 0.75, 1.0}));
    ASSERT_EQ(c.fills.size(), 1u);
    EXPECT_EQ(c.fills[0].color, (Color{0.86, 0.86, 0.86, 1.0}));
    EXPECT_EQ(c.order, (std::vector<std::string>{"stroke", "fill"}))
        << "outline, then fill over it";
    EXPECT_TRUE(c.lines.empty());
}

TEST(ProgressBar, StrokeLengthFollowsTheFraction) {
    ProgressBar bar;
    bar.setCurrent(50);
    RecordingCanvas c = drawn(bar);
    ASSERT_EQ(c.lines.size(), 1u);
    EXPECT_EQ(c.lines[0].from, (Point{4, 10}));
    EXPECT_EQ(c.lines[0].to, (Point{100, 10}));
    EXPECT_EQ(c.lines[0].width, 6.0);
    EXPECT_EQ(c.lines[0].color, (Color{0.36, 0.72, 0.36, 1.0}));
    EXPECT_EQ(c.order.back(), "line");

    for (const double full : {100.0, 250.0}) {
        bar.setCurrent(full);
        c = drawn(bar);
        ASSERT_EQ(c.lines.size(), 1u) << full;
        EXPECT_EQ(c.lines[0].to, (Point{196, 10})) << full;
    }
    bar.setCurrent(-50);
    c = drawn(bar);
    ASSERT_EQ(c.lines.size(), 1u);
    EXPECT_EQ(c.lines[0].to, (Point{-92, 10})) << "no lower cap: leftwards from the start";
}

TEST(ProgressBar, NoStrokeWhenCurrentEqualsANonZeroMinimum) {
    ProgressBar bar;
    bar.setMinimum(30);
    bar.setCurrent(30);
    EXPECT_TRUE(drawn(bar).lines.empty());
}

TEST(ProgressBar, NonFiniteFractionDrawsTheTrackAlone) {
    ProgressBar bar;
    bar.setMinimum(40);
    bar.setMaximum(40);
    for (const double current : {60.0, 20.0, std::nan("")}) {  // +inf, -inf, nan
        bar.setCurrent(current);
        const RecordingCanvas c = drawn(bar);
        EXPECT_TRUE(c.lines.empty()) << current;
        EXPECT_EQ(c.fills.size(), 1u) << current;
    }
    ProgressBar unbounded;
    unbounded.setCurrent(std::numeric_limits<double>::infinity());
    EXPECT_TRUE(drawn(unbounded).lines.empty()) << "an infinite fraction is not a full bar";

    ProgressBar broken;
    broken.setBorderWidth(std::nan(""));
    broken.setCurrent(50);
    const RecordingCanvas c = drawn(broken);
    EXPECT_TRUE(c.strokes.empty() && c.fills.empty() && c.lines.empty());
}

TEST(ProgressBar, FittingSizeIsAProduct) {
    ProgressBar bar;
    EXPECT_EQ(bar.fittingSize(), (Size{20, 12}));
    bar.setBorderWidth(0);
    EXPECT_EQ(bar.fittingSize(), (Size{20, 0}));
}

TEST(ProgressBar, EveryAssignmentAsksForARedraw) {
    int redraws = 0;
    ProgressBar bar([&] { ++redraws; });
    bar.setTintColor(bar.tintColor());
    bar.setCurrent(0);
    bar.setCurrent(0);
    bar.setBorderTintColor({});
    bar.setBackgroundTintColor({});
    bar.setBorderWidth(1);
    bar.setThickness(6);
    bar.setMinimum(0);
    bar.setMaximum(100);
    EXPECT_EQ(redraws, 9);
}

TEST(Theme, PaletteInSinglePrecision) {
    EXPECT_EQ(Theme::normalColor().red, double(0.168f));
    EXPECT_EQ(Theme::normalColor().red, 0.1679999977350235);
    EXPECT_EQ(Theme::warningColor(), (Color{double(0.878f), double(0.627f), double(0.156f), 1.0}));
    EXPECT_EQ(Theme::criticalColor(), (Color{double(0.819f), double(0.282f), double(0.247f), 1.0}));
}

TEST(Theme, ComponentsPadWithOne) {
    EXPECT_EQ(colorWithComponents({}), (Color{1, 1, 1, 1}));
    EXPECT_EQ(colorWithComponents({0.2}), (Color{0.2, 1, 1, 1}));
    EXPECT_EQ(colorWithComponents({0, 0, 1}), (Color{0, 0, 1, 1}));
    EXPECT_EQ(colorWithComponents({0.1, 0.2, 0.3, 0.4, 9}), (Color{0.1, 0.2, 0.3, 0.4}));
    EXPECT_EQ(components(colorWithComponents({0.1, 0.2, 0.3, 0.4})),
              (std::vector<double>{0.1, 0.2, 0.3, 0.4}));
    EXPECT_EQ(colorWithComponents({-1, 2}), (Color{-1, 2, 1, 1})) << "never clamped";
}

TEST(Theme, LevelColourIsLookedUpAfreshEachTime) {
    test::TempDir dir;
    const auto path = dir.path() / "suite.json";
    Configuration config(std::make_unique<SettingsSuite>(path));
    EXPECT_EQ(levelColor(ColorLevel::warning, config), Theme::warningColor());
    updateSuite(path, [](SuiteDocument& d) {
        d["CriticalColorKey"] = {0, 0, 1};
        d["NormalColorKey"] = SuiteDocument::array();
    });
    EXPECT_EQ(levelColor(ColorLevel::critical, config), (Color{0, 0, 1, 1}));
    EXPECT_EQ(levelColor(ColorLevel::normal, config), (Color{1, 1, 1, 1}));
    updateSuite(path, [](SuiteDocument& d) { d.erase("CriticalColorKey"); });
    EXPECT_EQ(levelColor(ColorLevel::critical, config), Theme::criticalColor());
}

}  // namespace
