#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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

TEST_F(SettingsCommand, ReadsBackAsPeopleWriteAndStoresTheDocumentedForms) {
    EXPECT_EQ(quillo("settings path").out, suite.string() + "\n");
    const RunResult fresh = quillo("settings list");
    EXPECT_EQ(fresh.status, 0);
    EXPECT_THAT(fresh.out, HasSubstr("RefreshRate       normal"));
    EXPECT_THAT(fresh.out, HasSubstr("CriticalColorKey  0.819,0.282,0.247,1"));
    EXPECT_EQ(quillo("settings get RefreshRate").out, "normal\n") << "a default, not a failure";

    for (const auto& [typed, shown] : {std::pair{"'#d1483f'", "#d1483f"},
                                       {"'#FF800080'", "#ff800080"},
                                       {"0.1,0.2,0.3", "0.1,0.2,0.3,1"},
                                       {"1,0,0,1", "#ff0000"}}) {
        ASSERT_EQ(quillo(std::string("settings set CriticalColorKey ") + typed).status, 0);
        EXPECT_EQ(quillo("settings get CriticalColorKey").out, std::string(shown) + "\n");
    }
    EXPECT_THAT(readFile(suite), HasSubstr("\"CriticalColorKey\": [1.0, 0.0, 0.0, 1.0]"))
        << "colours are stored as four numbers, whatever was typed";
    for (const auto& [typed, shown] :
         {std::pair{"slow", "slow"}, {"2.5", "2.5"}, {"5", "verySlow"}}) {
        ASSERT_EQ(quillo(std::string("settings set RefreshRate ") + typed).status, 0);
        EXPECT_EQ(quillo("settings get RefreshRate").out, std::string(shown) + "\n");
    }
    EXPECT_EQ(quillo("settings unset RefreshRate").status, 0);
    EXPECT_EQ(quillo("settings get RefreshRate").out, "normal\n");
}

TEST_F(SettingsCommand, IgnoredValuesAreFlaggedAndOutsideTextIsEscaped) {
    home.write("quillo/io.quillo.shared.json",
               "{\"RefreshRate\": \"fast\", \"NormalColorKey\": 7, \"WarningColorKey\": [1, 0.5],"
               " \"\\u001b]0;owned\\u0007\\u202e\": 1, \"RefreshRate2\": \"\\u001b[31m\"}");
    const RunResult list = quillo("settings list");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_THAT(list.out, HasSubstr("RefreshRate       normal"));
    EXPECT_THAT(list.out, HasSubstr("ignored: not a number"));
    EXPECT_THAT(list.out, HasSubstr("ignored: not a list of numbers"));
    EXPECT_THAT(list.out, HasSubstr("wrong number of components"));
    EXPECT_THAT(list.out, HasSubstr("\\x1b]0;owned\\x07\\u202e"));
    EXPECT_EQ(list.out.find('\x1b'), std::string::npos) << "raw escapes reached the terminal";
    const RunResult get = quillo("settings get RefreshRate2");
    EXPECT_EQ(get.out, "\"\\\\u001b[31m\"\n") << "another program's key, as stored";
}

TEST_F(SettingsCommand, RefusalsSayWhatIsWrongAndChangeNothing) {
    ASSERT_EQ(quillo("settings set RefreshRate 1").status, 0);
    const std::string before = readFile(suite);
    for (const char* args : {"settings set RefreshRate -1", "settings set NormalColorKey 2,0,0",
                             "settings set CriticalColorKey '#zz0000'"}) {
        const RunResult r = quillo(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_THAT(r.err, HasSubstr("quillo: ")) << args;
        EXPECT_EQ(readFile(suite), before) << args;
    }
    const RunResult typo = quillo("settings set RefreshRat 1");
    EXPECT_EQ(typo.status, 2);
    EXPECT_THAT(typo.err, HasSubstr("did you mean 'RefreshRate'?"));
    const std::string broken = "{\"RefreshRate\": 1, \"NormalColorKey\": [0, 1,\n";
    home.write("quillo/io.quillo.shared.json", broken);
    const RunResult r = quillo("settings set RefreshRate slow");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(suite.string()));
    EXPECT_THAT(r.err, HasSubstr("not valid JSON"));
    EXPECT_EQ(readFile(suite), broken);
}

TEST_F(SettingsCommand, AutostartEntryComesAndGoes) {
    const auto entry = home.path() / "autostart" / "io.quillo.Quillo.desktop";
    EXPECT_EQ(quillo("autostart status").out, "disabled\n");
    ASSERT_EQ(quillo("autostart enable").status, 0);
    EXPECT_EQ(quillo("autostart status").out, "enabled\n");
    EXPECT_THAT(readFile(entry), HasSubstr("Exec=\"" QUILLO_BIN "/quillo\" --desktop\n"));
    const RunResult valid = run("desktop-file-validate " + quoted(entry.string()));
    EXPECT_EQ(valid.status, 0) << valid.out << valid.err;
    ASSERT_EQ(quillo("autostart disable").status, 0);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_EQ(quillo("autostart status").out, "disabled\n");

    // A folder name that every layer of the Exec key has to escape.
    const auto odd = home.path() / "100% \"odd\" $x\\y";
    std::filesystem::create_directories(odd);
    std::filesystem::copy_file(QUILLO_BIN "/quillo", odd / "quillo");
    std::filesystem::permissions(odd / "quillo", std::filesystem::perms::owner_all);
    ASSERT_EQ(run("XDG_CONFIG_HOME=" + quoted(home.path().string()) + " " +
                  quoted((odd / "quillo").string()) + " autostart enable")
                  .status,
              0);
    EXPECT_THAT(readFile(entry),
                HasSubstr("Exec=\"" + home.path().string() +
                          "/100%% \\\\\"odd\\\\\" \\\\$x\\\\\\\\y/quillo\" --desktop\n"));
    const RunResult oddValid = run("desktop-file-validate " + quoted(entry.string()));
    EXPECT_EQ(oddValid.status, 0) << oddValid.out << oddValid.err;
}

TEST(Quillo, DeadDisplayFallsBackOrSaysSoAndNeverAborts) {
    const std::string dead = "env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:77 ";
    for (const char* command : {"/quillo --desktop", "/quillo-panel"}) {
        const RunResult r = run(dead + QUILLO_BIN + command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_THAT(r.err, HasSubstr("cannot open the display :77")) << command;
    }
    const RunResult png =
        run(dead + QUILLO_BIN "/quillo snapshot --png /dev/null --ticks 1 --interval 0.1");
    EXPECT_EQ(png.status, 0) << "a snapshot needs no display: " << png.err;
}

// One convention for every program: status 2 for a usage error, a line that starts with
// the program's name and suggests what was meant; --help names the program; -V says the
// version.
TEST(CommandLine, OneConventionForEveryProgram) {
    const struct {
        const char* command;
        const char* says;
    } usage[] = {
        {"quillo snapshto", "quillo: unknown command 'snapshto'; did you mean 'snapshot'?"},
        {"quillo sample --jsn", "quillo: unknown option '--jsn'; did you mean '--json'?"},
        {"quillo settings gett X", "quillo: unknown command 'gett'; did you mean 'get'?"},
        {"quillo snapshot --interval 0.01", "from 0.1 to 86400, not '0.01'"},
        {"quillo sample --interval nan", "from 0 to 3600"},
        {"quillo top -n 0x10", "takes a whole number from 1 to 1000000, not '0x10'"},
        {"quillo top --interval 0x1p-3", "not '0x1p-3'"},
        {"quillo-term --frames +2", "not '+2'"},
        {"quillo serve --listen 127.0.0.1:4294967297", "has no port from 0 to 65535"},
        {"quillo help smaple", "quillo: no command 'smaple'; did you mean 'sample'?"},
        {"quillo-panel --snapshto",
         "quillo-panel: unknown option '--snapshto'; did you mean '--snapshot'?"},
        {"quillo-term --frams 2",
         "quillo-term: unknown option '--frams'; did you mean '--frames'?"},
    };
    for (const auto& [command, says] : usage) {
        const RunResult r = run(std::string(QUILLO_BIN "/") + command);
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_THAT(r.err, HasSubstr(says)) << command;
    }
    const RunResult ten = run(QUILLO_BIN "/quillo top -n 010 --interval 0.1 --json");
    EXPECT_EQ(nlohmann::json::parse(ten.out).size(), 10u) << "decimal, never octal";
    for (const char* program : {"quillo", "quillo-panel", "quillo-term"}) {
        const RunResult help = run(std::string(QUILLO_BIN "/") + program + " --help");
        EXPECT_EQ(help.status, 0);
        EXPECT_THAT(help.out, HasSubstr(std::string("Usage: ") + program));
        EXPECT_EQ(run(std::string(QUILLO_BIN "/") + program + " -V").out,
                  std::string(program) + " 0.2.0\n");
    }
    EXPECT_THAT(run(QUILLO_BIN "/quillo help settings").out, HasSubstr("Usage: quillo settings"));
    const RunResult missingRoot = run(QUILLO_BIN "/quillo --procfs /nonexistent settings path");
    EXPECT_EQ(missingRoot.status, 2);
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

// Output that never arrived is a failure, so that a script never publishes an empty file.
TEST(Quillo, FailedWriteOfTheOutputIsStatusOneWithTheReason) {
    for (const char* command :
         {"metrics --interval 0.1", "sample --interval 0.1", "processes --json",
          "top -n 3 --interval 0.1", "settings list", "--version", "help"}) {
        const RunResult r = run(std::string(QUILLO_BIN "/quillo ") + command + " >/dev/full");
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(r.err, "quillo: cannot write the output: No space left on device\n") << command;
    }
}

}  // namespace
