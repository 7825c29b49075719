#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "quillo/settings/SuiteWriter.hpp"
#include "support/TempDir.hpp"
#include "quillo/ui/ProgressBar.hpp"
#include "quillo/ui/Theme.hpp"
#include "quillo/widget/Levels.hpp"

using namespace quillo;

namespace {

// Keeps every operation in order, and fails the test on any number that is not finite.
class RecordingCanvas final : public Canvas {
  public:
    struct Op {
        std::string kind;
        Rect rect;
        Point from, to;
        double width = 0, radius = 0;
        Color color;
    };
    std::vector<Op> ops;
    int depth = 0;

    void saveGraphicsState() override { ++depth; }
    void restoreGraphicsState() override { --depth; }
    void strokeRoundedRect(const Rect& r, double radius, double w, const Color& c) override {
        add({"stroke", r, {}, {}, w, radius, c}, {r.x, r.y, r.width, r.height, radius, w});
    }
    void fillRoundedRect(const Rect& r, double radius, const Color& c) override {
        add({"fill", r, {}, {}, 0, radius, c}, {r.x, r.y, r.width, r.height, radius});
    }
    void strokeRoundCappedLine(const Point& a, const Point& b, double w, const Color& c) override {
        add({"line", {}, a, b, w, 0, c}, {a.x, a.y, b.x, b.y, w});
    }
    const Op* line() const {
        for (const Op& op : ops) {
            if (op.kind == "line") return &op;
        }
        return nullptr;
    }

  private:
    void add(Op op, std::initializer_list<double> numbers) {
        for (const double v : numbers)
            EXPECT_TRUE(std::isfinite(v)) << "a non-finite number reached the canvas";
        ops.push_back(std::move(op));
    }
};

RecordingCanvas drawn(const ProgressBar& bar) {
    RecordingCanvas canvas;
    bar.draw(canvas, 200, 20);
    EXPECT_EQ(canvas.depth, 0) << "every save is restored";
    return canvas;
}

TEST(ProgressBar, DefaultTrackOutlineFirstAndNoStrokeAtMinimum) {
    const RecordingCanvas c = drawn(ProgressBar{});
    ASSERT_EQ(c.ops.size(), 2u);
    EXPECT_EQ(c.ops[0].kind, "stroke");
    EXPECT_EQ(c.ops[0].rect, (Rect{0.5, 6.5, 199, 7}));
    EXPECT_EQ(c.ops[0].radius, 3.25);
    EXPECT_EQ(c.ops[0].color, (Color{0.75, 0.75, 0.75, 1.0}));
    EXPECT_EQ(c.ops[1].kind, "fill");
    EXPECT_EQ(c.ops[1].color, (Color{0.86, 0.86, 0.86, 1.0}));
}

TEST(ProgressBar, StrokeLengthFollowsTheFraction) {
    ProgressBar bar;
    const auto end = [&](double current) {
        bar.setCurrent(current);
        const RecordingCanvas c = drawn(bar);
        EXPECT_NE(c.line(), nullptr) << current;
        return c.line() ? c.line()->to : Point{NAN, NAN};
    };
    EXPECT_EQ(end(50), (Point{100, 10}));
    EXPECT_EQ(drawn(bar).line()->from, (Point{4, 10}));
    EXPECT_EQ(drawn(bar).line()->width, 6.0);
    EXPECT_EQ(drawn(bar).line()->color, (Color{0.36, 0.72, 0.36, 1.0}));
    EXPECT_EQ(end(100), (Point{196, 10}));
    EXPECT_EQ(end(250), (Point{196, 10}));
    EXPECT_EQ(end(-50), (Point{-92, 10})) << "no lower cap: leftwards from the start";
}

TEST(ProgressBar, TrackAloneWithoutAMeaningfulFraction) {
    ProgressBar bar;
    bar.setMinimum(30);
    bar.setCurrent(30);
    EXPECT_EQ(drawn(bar).line(), nullptr) << "current equal to a non-zero minimum";
    bar.setMaximum(30);
    for (const double current : {60.0, 20.0, std::nan("")}) {
        bar.setCurrent(current);
        EXPECT_EQ(drawn(bar).line(), nullptr) << current;
    }
    ProgressBar unbounded;
    unbounded.setCurrent(std::numeric_limits<double>::infinity());
    EXPECT_EQ(drawn(unbounded).line(), nullptr) << "an infinite fraction is not a full bar";
    ProgressBar broken;
    broken.setBorderWidth(std::nan(""));
    broken.setCurrent(50);
    EXPECT_TRUE(drawn(broken).ops.empty());
}

TEST(ProgressBar, FittingSizeAndRedrawRequests) {
    int redraws = 0;
    ProgressBar bar([&] { ++redraws; });
    EXPECT_EQ(bar.fittingSize(), (Size{20, 12}));
    bar.setBorderWidth(0);
    EXPECT_EQ(bar.fittingSize(), (Size{20, 0})) << "a product, not a sum";
    bar.setTintColor(bar.tintColor());
    bar.setCurrent(0);
    EXPECT_EQ(redraws, 3) << "every assignment, also of the same value";
}

TEST(Theme, PaletteComponentsAndStoredColours) {
    EXPECT_EQ(Theme::normalColor().red, 0.1679999977350235) << "single precision widened";
    EXPECT_EQ(Theme::warningColor(), (Color{double(0.878f), double(0.627f), double(0.156f), 1.0}));
    EXPECT_EQ(colorWithComponents({}), (Color{1, 1, 1, 1}));
    EXPECT_EQ(colorWithComponents({0.2}), (Color{0.2, 1, 1, 1}));
    EXPECT_EQ(colorWithComponents({0.1, 0.2, 0.3, 0.4, 9}), (Color{0.1, 0.2, 0.3, 0.4}));
    EXPECT_EQ(components(colorWithComponents({0.1, 0.2, 0.3, 0.4})),
              (std::vector<double>{0.1, 0.2, 0.3, 0.4}));

    test::TempDir dir;
    const auto path = dir.path() / "suite.json";
    Configuration config(std::make_unique<SettingsSuite>(path));
    EXPECT_EQ(levelColor(ColorLevel::warning, config), Theme::warningColor());
    updateSuite(path, [](SuiteText& s) {
        s.set("CriticalColorKey", "[0, 0, 1]");
        s.set("NormalColorKey", "[]");
    });
    EXPECT_EQ(levelColor(ColorLevel::critical, config), (Color{0, 0, 1, 1}));
    EXPECT_EQ(levelColor(ColorLevel::normal, config), (Color{1, 1, 1, 1}));
}

}  // namespace
