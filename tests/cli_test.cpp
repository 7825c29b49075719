#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Run.hpp"

using namespace quillo::test;
using ::testing::HasSubstr;

namespace {

class SettingsCommand : public ::testing::Test {
  protected:
    TempDir home;
    std::filesystem::path suite = home.path() / "quillo" / "io.quillo.shared.json";

    RunResult quillo(const std::string& args) {
        return run("XDG_CONFIG_HOME=" + quoted(home.path().string()) + " " QUILLO_BIN "/quillo " +
                   args);
    }
};

TEST_F(SettingsCommand, SetAChoiceAndReadItBackAsSeconds) {
    EXPECT_EQ(quillo("settings path").out, suite.string() + "\n");
    EXPECT_EQ(quillo("settings set RefreshRate slow").status, 0);
    const RunResult get = quillo("settings get RefreshRate");
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "2\n");
    EXPECT_EQ(quillo("settings set WarningColorKey '#ff8000'").status, 0);
    EXPECT_EQ(quillo("settings get WarningColorKey").out, "1,0.5019607843137255,0,1\n");
    EXPECT_THAT(quillo("settings list").out, HasSubstr("RefreshRate      2\n"));
    EXPECT_EQ(quillo("settings unset RefreshRate").status, 0);
    const RunResult gone = quillo("settings get RefreshRate");
    EXPECT_NE(gone.status, 0);
    EXPECT_THAT(gone.err, HasSubstr("RefreshRate is not set"));
}

TEST_F(SettingsCommand, RefusalsSayWhatIsWrongAndChangeNothing) {
    ASSERT_EQ(quillo("settings set RefreshRate 1").status, 0);
    const std::string before = readFile(suite);
    for (const char* args : {"settings set RefreshRate -1", "settings set NormalColorKey 2,0,0",
                             "settings set Refresh 1", "settings set CriticalColorKey '#zz0000'"}) {
        const RunResult r = quillo(args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_THAT(r.err, HasSubstr("quillo: ")) << args;
        EXPECT_EQ(readFile(suite), before) << args;
    }
}

TEST_F(SettingsCommand, MalformedSuiteSurvivesByteForByte) {
    const std::string broken = "{\"RefreshRate\": 1, \"NormalColorKey\": [0, 1,\n";
    home.write("quillo/io.quillo.shared.json", broken);
    const RunResult r = quillo("settings set RefreshRate slow");
    EXPECT_NE(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr(suite.string()));
    EXPECT_THAT(r.err, HasSubstr("not valid JSON"));
    EXPECT_EQ(readFile(suite), broken);
}

TEST(Quillo, HelpAndVersion) {
    const RunResult help = run(QUILLO_BIN "/quillo --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("settings"));
    EXPECT_THAT(run(QUILLO_BIN "/quillo --version").out, HasSubstr("quillo "));
    const RunResult missingRoot = run(QUILLO_BIN "/quillo --procfs /nonexistent settings path");
    EXPECT_NE(missingRoot.status, 0);
    EXPECT_THAT(missingRoot.err, HasSubstr("/nonexistent"));
}

TEST(Quillo, DebugSwitchExplainsNeutralValuesAndNumbersMustBeFinite) {
    const std::string tree = std::string(QUILLO_FIXTURES) + "/linux/laptop-discharging";
    const std::string sample = QUILLO_BIN "/quillo --procfs " + tree + "/proc --sysfs " + tree +
                               "/sys sample --interval 0";
    EXPECT_EQ(run(sample).err, "") << "silent in normal use";
    const RunResult debug = run("QUILLO_DEBUG=1 " + sample);
    EXPECT_EQ(debug.status, 0);
    EXPECT_THAT(debug.err, HasSubstr("quillo: debug: power_supply/BAT0/temp: missing\n"));
    EXPECT_THAT(debug.err, HasSubstr("quillo: debug: meminfo: MemAvailable missing; estimated\n"));
    for (const char* bad :
         {"sample --interval nan", "sample --interval inf", "snapshot --interval nan"}) {
        EXPECT_NE(run(QUILLO_BIN "/quillo " + std::string(bad)).status, 0) << bad;
    }
}

}  // namespace
