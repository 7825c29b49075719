#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "settings/Configuration.hpp"
#include "settings/SuiteWriter.hpp"
#include "support/TempDir.hpp"

using namespace quillo;
using ::testing::ElementsAre;

namespace {

struct TypingCase {
    const char* name;
    const char* json;
    std::optional<double> number;
    std::optional<std::vector<double>> list;
};

class SuiteTyping : public ::testing::TestWithParam<TypingCase> {};

TEST_P(SuiteTyping, ReadsOnlyNumbersAndListsOfNumbers) {
    const TypingCase& c = GetParam();
    test::TempDir dir;
    Configuration config(std::make_unique<SettingsSuite>(dir.write("suite.json", c.json)));
    EXPECT_EQ(config.doubleValue("K"), c.number);
    EXPECT_EQ(config.colorComponents("K"), c.list);
}

INSTANTIATE_TEST_SUITE_P(
    Configuration, SuiteTyping,
    ::testing::Values(
        TypingCase{"IntegerIsANumber", R"({"K": 5})", 5.0, std::nullopt},
        TypingCase{"NegativeFloat", R"({"K": -0.25})", -0.25, std::nullopt},
        TypingCase{"TextIsAbsent", R"({"K": "5"})", std::nullopt, std::nullopt},
        TypingCase{"BooleanIsAbsent", R"({"K": true})", std::nullopt, std::nullopt},
        TypingCase{"NullIsAbsent", R"({"K": null})", std::nullopt, std::nullopt},
        TypingCase{"ObjectIsAbsent", R"({"K": {"r": 1}})", std::nullopt, std::nullopt},
        TypingCase{"ListOfNumbers", R"({"K": [0.878, 0.627, 0.156, 1]})", std::nullopt,
                   std::vector<double>{0.878, 0.627, 0.156, 1.0}},
        TypingCase{"EmptyList", R"({"K": []})", std::nullopt, std::vector<double>{}},
        TypingCase{"ListWithOneText", R"({"K": [0, "1", 0]})", std::nullopt, std::nullopt},
        TypingCase{"ListWithNestedList", R"({"K": [0, [1], 0]})", std::nullopt, std::nullopt},
        TypingCase{"ListWithBoolean", R"({"K": [0, true]})", std::nullopt, std::nullopt},
        TypingCase{"NestedKeyDoesNotCount", R"({"X": {"K": 5}, "Y": [{"K": 1}]})", std::nullopt,
                   std::nullopt},
        TypingCase{"LastDuplicateWins", R"({"K": 1, "K": 2})", 2.0, std::nullopt},
        TypingCase{"MissingKey", R"({"Other": 1})", std::nullopt, std::nullopt},
        TypingCase{"EmptyFile", "", std::nullopt, std::nullopt},
        TypingCase{"TruncatedFile", R"({"K": 5, "L": [1,)", std::nullopt, std::nullopt},
        TypingCase{"TrailingGarbage", R"({"K": 5} x)", std::nullopt, std::nullopt},
        TypingCase{"TopLevelList", R"([{"K": 5}])", std::nullopt, std::nullopt},
        TypingCase{"TopLevelNumber", "5", std::nullopt, std::nullopt},
        TypingCase{"InvalidUtf8", "{\"K\": 5, \"\xff\": 1}", std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Configuration, UnusableFilesReadAsAnEmptySuite) {
    test::TempDir dir;
    const auto refresh = [](const std::filesystem::path& path) {
        return Configuration(std::make_unique<SettingsSuite>(path)).doubleValue("RefreshRate");
    };
    EXPECT_EQ(refresh(dir.path() / "absent.json"), std::nullopt);
    EXPECT_EQ(refresh(dir.path()), std::nullopt) << "a folder";
    const std::string pad(SettingsSuite::maximumFileSize, 'x');
    EXPECT_EQ(refresh(dir.write("huge.json", R"({"RefreshRate": 2, "pad": ")" + pad + "\"}")),
              std::nullopt);
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_EQ(refresh(dir.write("deep.json", R"({"X": )" + deep + R"(, "RefreshRate": 3})")), 3.0)
        << "deep nesting costs no recursion";
}

TEST(Configuration, EveryLookupSeesTheFileAsItIsNow) {
    test::TempDir dir;
    const auto path = dir.write("suite.json", R"({"RefreshRate": 1})");
    Configuration config(std::make_unique<SettingsSuite>(path));
    EXPECT_EQ(config.doubleValue("RefreshRate"), 1.0);
    updateSuite(path, [](SuiteDocument& d) { d["RefreshRate"] = 5; });
    EXPECT_EQ(config.doubleValue("RefreshRate"), 5.0);
    updateSuite(path, [](SuiteDocument& d) { d.erase("RefreshRate"); });
    EXPECT_EQ(config.doubleValue("RefreshRate"), std::nullopt);
}

TEST(SuiteWriter, AcceptsChoicesSecondsAndColourForms) {
    EXPECT_EQ(parseRefreshInterval("slow"), 2.0);
    EXPECT_EQ(parseRefreshInterval("veryslow"), 5.0);
    EXPECT_EQ(parseRefreshInterval(" 0.25 "), 0.25);
    EXPECT_THAT(parseColor("0,0,1"), ElementsAre(0.0, 0.0, 1.0, 1.0));
    EXPECT_THAT(parseColor("0.1, 0.2, 0.3, 0.4"), ElementsAre(0.1, 0.2, 0.3, 0.4));
    EXPECT_THAT(parseColor("#ff000080"), ElementsAre(1.0, 0.0, 0.0, 128 / 255.0));
}

TEST(SuiteWriter, RefusesValuesThatCannotBeRight) {
    for (const char* bad : {"-1", "0", "0.05", "nan", "inf", "1e9", "5s", "", "fastest"}) {
        EXPECT_THROW(parseRefreshInterval(bad), SuiteError) << bad;
    }
    for (const char* bad : {"1,0", "1,0,0,0,0", "1.5,0,0", "-0.1,0,0", "a,b,c", "#12345", "#12345g",
                            "#", "1,,0", ""}) {
        EXPECT_THROW(parseColor(bad), SuiteError) << bad;
    }
}

TEST(SuiteWriter, KeepsKeysItDoesNotKnowInTheirOrder) {
    test::TempDir dir;
    const auto path =
        dir.write("suite.json", R"({"Zeta": {"a": [1, "x"]}, "RefreshRate": 1, "Alpha": true})");
    updateSuite(path, [](SuiteDocument& d) { d["RefreshRate"] = 2.0; });
    const SuiteDocument after = loadSuite(path);
    std::vector<std::string> keys;
    for (const auto& [key, value] : after.items()) keys.push_back(key);
    EXPECT_THAT(keys, ElementsAre("Zeta", "RefreshRate", "Alpha"));
    EXPECT_EQ(after["Zeta"], SuiteDocument::parse(R"({"a": [1, "x"]})"));
    EXPECT_EQ(after["RefreshRate"], 2.0);
}

TEST(SuiteWriter, MalformedFileIsNeverOverwritten) {
    test::TempDir dir;
    for (const char* text : {"{\"RefreshRate\": 1,", "[1, 2]", "not json", "{\"a\": \"\xff\"}"}) {
        const auto path = dir.write("suite.json", text);
        try {
            updateSuite(path, [](SuiteDocument& d) { d["RefreshRate"] = 2.0; });
            ADD_FAILURE() << "accepted " << text;
        } catch (const SuiteError& e) {
            EXPECT_THAT(e.what(), ::testing::HasSubstr(path.string()));
        }
        EXPECT_EQ(test::readFile(path), text);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "a temporary file was left behind";
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
                updateSuite(path, [&](SuiteDocument& d) {
                    d["k" + std::to_string(w) + "_" + std::to_string(i)] = i;
                });
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    Configuration reader(std::make_unique<SettingsSuite>(path));
    int torn = 0;
    for (int i = 0; i < 200; ++i) {
        if (std::filesystem::exists(path)) {
            try {
                (void)loadSuite(path);
            } catch (const SuiteError&) {
                ++torn;
            }
        }
    }
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(loadSuite(path).size(), std::size_t(writers * writesEach));
}

}  // namespace
