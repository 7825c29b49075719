#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QXmlStreamReader>
#include <nlohmann/json.hpp>

#include "common/Snapshot.hpp"
#include "qt/QtEventLoop.hpp"
#include "qt/QtLocalizer.hpp"
#include "quillo/widget/Format.hpp"
#include "support/Run.hpp"

using namespace quillo;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

namespace {

// Every key of the Quillo context in the translation source, read from the file itself.
std::vector<std::string> translationKeys() {
    QFile file(QUILLO_TRANSLATIONS "/quillo_de.ts");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    std::vector<std::string> keys;
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNextStartElement()) {
            if (xml.name() == u"name") context = xml.readElementText();
            if (xml.name() == u"source" && context == "Quillo")
                keys.push_back(xml.readElementText().toStdString());
        }
    }
    return keys;
}

TEST(QtLocalizer, GermanForEveryKeyWithTheSameConversions) {
    QtLocalizer german;
    ASSERT_TRUE(german.load("de"));
    const std::vector<std::string> keys = translationKeys();
    EXPECT_GE(keys.size(), 11u);
    for (const std::string& key : keys) {
        const std::string text = german.localizedString(key);
        EXPECT_FALSE(text.empty()) << key;
        EXPECT_EQ(conversionsOf(text), conversionsOf(key)) << key << " -> " << text;
    }
    EXPECT_EQ(german.localizedString("Load Average: %@"), "Systemlast: %@");
    QtLocalizer none;
    EXPECT_EQ(none.localizedString("AC Power"), "AC Power") << "no translation: the key itself";
}

TEST(QtEventLoop, BlocksRunInSubmissionOrderAfterTheCurrentEvent) {
    int argc = 1;
    char name[] = "qt_host_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QtEventLoop loop;
    std::vector<int> order;
    int fired = 0;
    std::unique_ptr<Timer> timer = loop.scheduledTimer(0.01, [&] {
        ++fired;
        for (int i = 0; i < 3; ++i) loop.async([&order, i] { order.push_back(i); });
        order.push_back(-1);  // the tick itself runs before its blocks
        if (fired == 2) {
            timer->invalidate();
            loop.async([] { QCoreApplication::quit(); });
        }
    });
    EXPECT_EQ(timer->timeInterval(), 0.01);
    QCoreApplication::exec();
    EXPECT_EQ(order, (std::vector<int>{-1, 0, 1, 2, -1, 0, 1, 2}));
}

// The real desktop panel, rendered offscreen through the command a user runs.
TEST(DesktopHost, SnapshotRendersThePanelOffscreen) {
    test::TempDir dir;
    const auto png = dir.path() / "panel.png";
    const test::RunResult r = test::run(
        "QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" + test::quoted(dir.path().string()) +
        " " QUILLO_BIN "/quillo snapshot --ticks 1 --json --png " + test::quoted(png.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto states = nlohmann::json::parse(r.out);
    EXPECT_EQ(states.size(), 15u);
    EXPECT_THAT(states["loadLabel"].get<std::string>(), HasSubstr("Load Average: "));
    EXPECT_THAT(states["cpuPercentLabel"].get<std::string>(), MatchesRegex("[0-9]+%"))
        << "the first tick is measured";
    EXPECT_EQ(states["hddProgressBar"]["tintColor"].size(), 4u);
    const std::string image = test::readFile(png);
    ASSERT_GT(image.size(), 1000u);
    EXPECT_EQ(image.substr(1, 3), "PNG");
}

// The PNG's width, from its header.
unsigned pngWidth(const std::string& png) {
    return unsigned(static_cast<unsigned char>(png[16])) << 24 |
           unsigned(static_cast<unsigned char>(png[17])) << 16 |
           unsigned(static_cast<unsigned char>(png[18])) << 8 | static_cast<unsigned char>(png[19]);
}

TEST(DesktopHost, SnapshotScaleIsThePixelRatioWhateverTheScreensScaleFactor) {
    test::TempDir dir;
    const auto width = [&](const std::string& factor, int scale) {
        const auto png = dir.path() / "panel.png";
        const test::RunResult r = test::run(
            "QT_SCALE_FACTOR=" + factor + " XDG_CONFIG_HOME=" + test::quoted(dir.path().string()) +
            " " QUILLO_BIN "/quillo snapshot --ticks 1 --interval 0.1 --scale " +
            std::to_string(scale) + " --png " + test::quoted(png.string()));
        EXPECT_EQ(r.status, 0) << r.err;
        return pngWidth(test::readFile(png));
    };
    const unsigned one = width("1", 1);
    EXPECT_EQ(width("1", 3), 3 * one);
    EXPECT_EQ(width("3", 3), 3 * one) << "the bars keep their proportions";
}

}  // namespace
