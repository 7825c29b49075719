#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "quillo/settings/Configuration.hpp"
#include "quillo/settings/Keys.hpp"
#include "quillo/settings/Rows.hpp"
#include "quillo/settings/SuiteWriter.hpp"
#include "quillo/widget/Levels.hpp"
#include "support/TempDir.hpp"

using namespace quillo;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

TEST(Configuration, ReadsOnlyNumbersAndListsOfNumbers) {
    using List = std::optional<std::vector<double>>;
    const std::tuple<const char*, std::optional<double>, List> cases[] = {
        {R"({"K": 5})", 5.0, std::nullopt},
        {R"({"K": "5"})", std::nullopt, std::nullopt},
        {R"({"K": [0.878, 0.627, 0.156, 1]})", std::nullopt, List{{0.878, 0.627, 0.156, 1.0}}},
        {R"({"K": [0, "1", 0]})", std::nullopt, std::nullopt},
        {R"({"X": {"K": 5}, "Y": [{"K": 1}]})", std::nullopt, std::nullopt},  // not nested ones
        {R"({"K": 1, "K": 2})", 2.0, std::nullopt},                           // the last duplicate
        {R"({"K": 5, "L": [1,)", std::nullopt, std::nullopt},
        {"{\"K\": 5, \"\xff\": 1}", std::nullopt, std::nullopt},
        {R"({"F": [1e400, -2E+999], "K": 2})", 2.0, std::nullopt},  // beyond a double elsewhere
        {R"({"K": 1e400})", std::nullopt, std::nullopt}};
    test::TempDir dir;
    for (const auto& [json, number, list] : cases) {
        Configuration config(std::make_unique<SettingsSuite>(dir.write("suite.json", json)));
        EXPECT_EQ(config.doubleValue("K"), number) << json;
        EXPECT_EQ(config.colorComponents("K"), list) << json;
    }
}

// Rows as typed, stored and read back; what another program stored is read leniently.
TEST(Configuration, RowsAsTypedAndAsStored) {
    EXPECT_EQ(storedForm(*findSettingKey("Rows"), " swap, cpu,"), R"(["swap", "cpu"])");
    for (const auto& [typed, says] : {std::pair{"cpu,swpa", "did you mean \"swap\""},
                                      {"cpu,cpu", "named twice"},
                                      {"", "no row is called \"\""},
                                      {"cpu,,memory", "no row"}}) {
        const std::string text = typed;  // a lambda may not capture a structured binding
        EXPECT_THAT([&] { (void)parsePanelRows(text); },
                    ::testing::ThrowsMessage<SuiteError>(HasSubstr(says)))
            << typed;
    }
    const std::pair<const char*, std::string> stored[] = {
        {R"({"Rows": ["battery", "future", "cpu", "battery"]})", "battery,cpu"},
        {R"({"Rows": ["future"]})", "cpu,memory,disk,network,load,uptime,battery"},
        {R"({"Rows": []})", "cpu,memory,disk,network,load,uptime,battery"},
        {R"({"Rows": ["cpu", 1]})", "cpu,memory,disk,network,load,uptime,battery"},
        {R"({"Rows": "cpu"})", "cpu,memory,disk,network,load,uptime,battery"}};
    test::TempDir dir;
    for (const auto& [json, rows] : stored) {
        const Configuration config(std::make_unique<SettingsSuite>(dir.write("s.json", json)));
        EXPECT_EQ(panelRowsText(chosenPanelRows(config)), rows) << json;
    }
}

// The file systems and interfaces rows list: the names as the mount table and the kernel
// write them, or every one.
TEST(Configuration, ChosenFileSystemsAndInterfaces) {
    const SettingKey& fs = *findSettingKey("FileSystems");
    const SettingKey& nets = *findSettingKey("Interfaces");
    EXPECT_EQ(storedForm(fs, "/, /home/,/mnt/a\"b"), R"(["/","/home","/mnt/a\"b"])");
    EXPECT_EQ(storedForm(fs, "all"), R"(["all"])");
    EXPECT_EQ(storedForm(nets, "eth0,wlp2s0"), R"(["eth0","wlp2s0"])");
    for (const auto& [key, typed, says] : {std::tuple{&fs, "home", "no mount point"},
                                           {&fs, "/,/", "named twice"},
                                           {&fs, "/srv/\xff", "not valid UTF-8"},
                                           {&nets, "eth0:1", "no interface name"},
                                           {&nets, "averyveryverylongname", "no interface name"},
                                           {&nets, "all,eth0", "stands alone"}}) {
        const SettingKey* k = key;
        const std::string text = typed;
        EXPECT_THAT([&] { (void)storedForm(*k, text); },
                    ::testing::ThrowsMessage<SuiteError>(HasSubstr(says)))
            << typed;
    }
    test::TempDir dir;
    for (const auto& [json, items] :
         {std::pair{R"({"FileSystems": ["/home/", "relative", "/", "/home"]})", "/home,/"},
          {R"({"FileSystems": ["all", "/"]})", "all"},
          {R"({"FileSystems": "/"})", "all"},
          {R"({"FileSystems": ["x"]})", "all"}}) {
        const Configuration config(std::make_unique<SettingsSuite>(dir.write("s.json", json)));
        EXPECT_EQ(rowItemsText(chosenRowItems(config, "FileSystems")), items) << json;
    }
}

// The desktop's look: numbers kept within their range, words only from their list.
TEST(Configuration, LookSettingsStayWithinTheirRanges) {
    const SettingKey &opacity = *findSettingKey("Opacity"), &scale = *findSettingKey("Scale"),
                     &layout = *findSettingKey("Layout");
    EXPECT_EQ(storedForm(opacity, "0.35"), "0.35");
    for (const auto& [key, typed] : {std::pair{&opacity, "0.1"},
                                     {&opacity, "1.01"},
                                     {&scale, "nan"},
                                     {&scale, "1,5"},
                                     {&layout, "Vertical"}})
        EXPECT_THROW((void)storedForm(*key, typed), SuiteError) << key->name << " " << typed;
    test::TempDir dir;
    for (const auto& [json, opacityUsed, scaleUsed, layoutUsed] :
         {std::tuple{R"({})", 1.0, 1.0, "vertical"},
          {R"({"Opacity": 0.05, "Scale": 9, "Layout": "horizontal"})", 0.2, 2.0, "horizontal"},
          {R"({"Opacity": "half", "Scale": 1.25, "Layout": 3})", 1.0, 1.25, "vertical"}}) {
        const Configuration config(std::make_unique<SettingsSuite>(dir.write("s.json", json)));
        EXPECT_EQ(numberSetting(config, opacity), opacityUsed) << json;
        EXPECT_EQ(numberSetting(config, scale), scaleUsed) << json;
        EXPECT_EQ(choiceSetting(config, layout), layoutUsed) << json;
    }
}

// The palette gives the level colours no ColorKey sets; a colour that is set stays.
TEST(Configuration, PaletteColoursTheLevelsNoKeySets) {
    EXPECT_EQ(storedForm(*findSettingKey("Palette"), "colorblind"), R"("colorblind")");
    EXPECT_THAT([] { (void)storedForm(*findSettingKey("Palette"), "colourblind"); },
                ::testing::ThrowsMessage<SuiteError>(HasSubstr("default or colorblind")));
    test::TempDir dir;
    const auto red = [](const Color& c) { return std::lround(c.red * 255); };
    for (const auto& [json, normal, critical] :
         {std::tuple{R"({"Palette": "colorblind"})", 0L, 213L},
          {R"({"Palette": "colorblind", "NormalColorKey": [1, 0, 0]})", 255L, 213L},
          {R"({"Palette": "other"})", 43L, 209L},
          {R"({})", 43L, 209L}}) {
        const Configuration config(std::make_unique<SettingsSuite>(dir.write("s.json", json)));
        EXPECT_EQ(red(levelColor(ColorLevel::normal, config)), normal) << json;
        EXPECT_EQ(red(levelColor(ColorLevel::critical, config)), critical) << json;
    }
}

TEST(Configuration, UnusableFilesReadAsAnEmptySuiteAndNeverBlock) {
    ::alarm(20);  // a reader stuck on a FIFO fails the test instead of hanging it
    test::TempDir dir;
    const auto refresh = [](const std::filesystem::path& path) {
        return Configuration(std::make_unique<SettingsSuite>(path)).doubleValue("RefreshRate");
    };
    EXPECT_EQ(refresh(dir.path() / "absent.json"), std::nullopt);
    EXPECT_EQ(refresh(dir.path()), std::nullopt) << "a folder";
    ASSERT_EQ(::mkfifo((dir.path() / "fifo.json").c_str(), 0600), 0);
    EXPECT_EQ(refresh(dir.path() / "fifo.json"), std::nullopt);
    const std::string pad(SettingsSuite::maximumFileSize, 'x');
    EXPECT_EQ(refresh(dir.write("huge.json", R"({"RefreshRate": 2, "pad": ")" + pad + "\"}")),
              std::nullopt);
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_EQ(refresh(dir.write("deep.json", R"({"X": )" + deep + R"(, "RefreshRate": 3})")), 3.0)
        << "deep nesting costs no recursion";
    ::alarm(0);
}

TEST(SuiteWriter, AcceptsWhatPeopleTypeAndRefusesTheRest) {
    EXPECT_EQ(parseRefreshInterval("slow"), 2.0);
    EXPECT_EQ(parseRefreshInterval("veryslow"), 5.0);
    EXPECT_EQ(parseRefreshInterval(" 0.25 "), 0.25);
    EXPECT_THAT(parseColor("0,0,1"), ElementsAre(0.0, 0.0, 1.0, 1.0));
    EXPECT_THAT(parseColor("0.1, 0.2, 0.3, 0.4"), ElementsAre(0.1, 0.2, 0.3, 0.4));
    EXPECT_THAT(parseColor("#ff000080"), ElementsAre(1.0, 0.0, 0.0, 128 / 255.0));
    for (const char* bad : {"-1", "0", "0.05", "nan", "inf", "1e9", "5s", "", "fastest"}) {
        EXPECT_THROW(parseRefreshInterval(bad), SuiteError) << bad;
    }
    for (const char* bad : {"1,0", "1,0,0,0,0", "1.5,0,0", "-0.1,0,0", "a,b,c", "#12345", "#12345g",
                            "#", "1,,0", ""}) {
        EXPECT_THROW(parseColor(bad), SuiteError) << bad;
    }
}

// Only the one key's member changes; every other byte stays as it was.
TEST(SuiteText, EditsTouchOnlyTheOneKey) {
    const std::tuple<const char*, bool, const char*> cases[] = {
        // before, set (else erase), after
        {"{\"Big\": 123456789012345678901,\n \"RefreshRate\" :  1 , \"N\": 1E2}", true,
         "{\"Big\": 123456789012345678901,\n \"RefreshRate\" :  2 , \"N\": 1E2}"},
        {"{\n    \"A\": [1, \"x\"]\n}\n", true,
         "{\n    \"A\": [1, \"x\"],\n    \"RefreshRate\": 2\n}\n"},
        {"{\"A\": {\"B\": \"}\"}}", true, "{\"A\": {\"B\": \"}\"}, \"RefreshRate\": 2}"},
        {"", true, "{\n  \"RefreshRate\": 2\n}\n"},
        {"{\r\n  \"A\": \"1e400\",\r\n  \"B\": 1e400\r\n}\r\n", true,
         "{\r\n  \"A\": \"1e400\",\r\n  \"B\": 1e400,\r\n  \"RefreshRate\": 2\r\n}\r\n"},
        {"{\"RefreshRate\": 1, \"RefreshRate\": \"x\"}", true,
         "{\"RefreshRate\": 2, \"RefreshRate\": 2}"},
        {"\xEF\xBB\xBF{\"RefreshRate\": 1}", true, "\xEF\xBB\xBF{\"RefreshRate\": 2}"},
        {"{\n  \"A\": 1,\n  \"RefreshRate\": 5\n}", false, "{\n  \"A\": 1\n}"},
        {"{\n  \"RefreshRate\": 5,\n  \"A\": 1\n}", false, "{\n  \"A\": 1\n}"},
        {"{\"RefreshRate\": 5, \"RefreshRate\": [1]}", false, "{}"},
        {"{ \"A\": 1 }", false, "{ \"A\": 1 }"}};
    for (const auto& [before, set, after] : cases) {
        SuiteText suite(before);
        if (set) {
            suite.set("RefreshRate", "2");
        } else {
            suite.erase("RefreshRate");
        }
        EXPECT_EQ(suite.text(), after) << before;
        EXPECT_NO_THROW(SuiteText{suite.text()});
    }
}

// Whatever the file, a writer either edits it or refuses it untouched, with a reason.
TEST(SuiteWriter, RefusesWhatItCannotEditAndChangesNothing) {
    test::TempDir dir;
    const std::string deep =
        "{\"X\": " + std::string(100000, '[') + std::string(100000, ']') + ", \"RefreshRate\": 1}";
    const std::string huge = "{\"X\": \"" + std::string(SuiteText::maximumSize, 'x') + "\"}";
    const std::string nearLimit =
        "{\"X\": \"" + std::string(SuiteText::maximumSize - 12, 'x') + "\"}";
    for (const auto& [text, why] :
         {std::pair<std::string, const char*>{"{\"RefreshRate\": 1,", "not valid JSON"},
          {"[1, 2]", "not an object"},
          {"{\"a\": \"\xff\"}", "not valid JSON"},
          {deep, "nested deeper than 10000 levels"},
          {huge, "larger than a settings file"},
          {std::string("{\"RefreshRate\": 1}\0{}", 21), "NUL byte"},
          {nearLimit, "would leave a file that is larger than a settings file"}}) {
        const auto path = dir.write("suite.json", text);
        try {
            updateSuite(path, [](SuiteText& s) { s.set("RefreshRate", "2"); });
            ADD_FAILURE() << "accepted " << text.substr(0, 40);
        } catch (const SuiteError& e) {
            EXPECT_THAT(e.what(), HasSubstr(path.string()));
            EXPECT_THAT(e.what(), HasSubstr(why));
        }
        EXPECT_EQ(test::readFile(path), text);
    }
    // Deep but within bounds: edited like any other file, and no bigger than the edit.
    const std::string nested = "{\"X\": " + std::string(1000, '[') + std::string(1000, ']') + "}";
    const auto path = dir.write("suite.json", nested);
    updateSuite(path, [](SuiteText& s) { s.set("RefreshRate", "2"); });
    EXPECT_EQ(test::readFile(path).size(),
              nested.size() + std::string(", \"RefreshRate\": 2").size());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "a temporary file was left behind";
}

TEST(SuiteWriter, FollowsLinksHonoursTheUmaskAndNeverWaitsOnAFifo) {
    ::alarm(20);
    test::TempDir dir;
    const auto target = dir.write("dotfiles/quillo.json", "{\"A\": 1}");
    std::filesystem::create_directories(dir.path() / "config");
    const auto link = dir.path() / "config" / "suite.json";
    std::filesystem::create_symlink("../dotfiles/quillo.json", link);
    updateSuite(link, [](SuiteText& s) { s.set("RefreshRate", "2"); });
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link keeps working";
    EXPECT_EQ(test::readFile(target), "{\"A\": 1, \"RefreshRate\": 2}");

    const mode_t old = ::umask(027);
    updateSuite(dir.path() / "new" / "suite.json", [](SuiteText& s) { s.set("A", "1"); });
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat((dir.path() / "new" / "suite.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    ASSERT_EQ(::mkfifo((dir.path() / "fifo.json").c_str(), 0600), 0);
    EXPECT_THROW(updateSuite(dir.path() / "fifo.json", [](SuiteText& s) { s.set("A", "1"); }),
                 SuiteError);
    ::alarm(0);
}

TEST(SuiteWriter, KilledWritersLeaveNothingThatOutlivesTheNextWriteAndOnlyThat) {
    test::TempDir dir;
    const auto path = dir.path() / "quillo" / "suite.json";
    updateSuite(path, [](SuiteText& s) { s.set("Pad", "\"" + std::string(300000, 'p') + "\""); });
    // A person's copies, named like the writer's temporary files once were.
    for (const char* kept : {".suite.json.backup", ".suite.json.orig01", ".suite.json.Ab12Cd"})
        dir.write(std::filesystem::path("quillo") / kept, "{}");
    for (int round = 0; round < 40; ++round) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (int i = 0;; ++i) {
                updateSuite(path,
                            [&](SuiteText& s) { s.set("RefreshRate", std::to_string(i % 9 + 1)); });
            }
        }
        ::usleep(1000 + 977 * (round % 7));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    updateSuite(path, [](SuiteText& s) { s.set("RefreshRate", "5"); });
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 4)
        << "temporary files outlived the next write, or a person's file went";
    EXPECT_EQ(Configuration(std::make_unique<SettingsSuite>(path)).doubleValue("RefreshRate"), 5.0);
}

TEST(SuiteWriter, ConcurrentWritersLoseNothingAndReadersNeverSeeHalfAFile) {
    test::TempDir dir;
    const auto path = dir.path() / "quillo" / "suite.json";
    constexpr int writers = 4;
    constexpr int writesEach = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0; i < writesEach; ++i) {
                updateSuite(path, [&](SuiteText& s) {
                    s.set("k" + std::to_string(w) + "_" + std::to_string(i), std::to_string(i));
                });
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    int torn = 0;
    for (int i = 0; i < 200; ++i) {
        try {
            (void)readSuite(path);
        } catch (const SuiteError&) {
            ++torn;
        }
    }
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(readSuite(path).members().size(), std::size_t(writers * writesEach));
}

}  // namespace
