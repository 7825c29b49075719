// End to end over every fixture tree: `quillo sample --json`, `quillo snapshot --json`
// and `quillo metrics` against checked-in output. What depends on the moment (the
// uptime, the live disk) is masked. After a deliberate change, `./dev golden` writes the new
// output; review the difference before committing it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "support/Run.hpp"

using namespace quillo::test;
using Json = nlohmann::ordered_json;

namespace {

const std::filesystem::path fixtures = std::filesystem::path(QUILLO_FIXTURES) / "linux";
const std::filesystem::path golden = std::filesystem::path(QUILLO_FIXTURES) / "../golden";

const char* const trees[] = {
    "desktop-no-battery", "laptop-charge-limit",    "laptop-charging",      "laptop-discharging",
    "malformed",          "server-many-interfaces", "workstation-throttled"};

Json masked(Json output) {
    for (const char* key : {"uptime", "uptimeLabel", "hddPercentLabel", "hddProgressBar"}) {
        if (output.contains(key)) output[key] = "<varies>";
    }
    return output;
}

// The exposition's lines about the live disk, their values masked.
std::string masked(std::string metrics) {
    std::string out;
    std::istringstream lines(metrics);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("quillo_disk_") || line.starts_with("quillo_level{row=\"disk\"}"))
            line = line.substr(0, line.rfind(' ')) + " <varies>";
        out += line + "\n";
    }
    return out;
}

class Golden : public ::testing::TestWithParam<const char*> {
  protected:
    std::string output(const std::string& command) {
        TempDir home;
        const std::filesystem::path tree = fixtures / GetParam();
        const RunResult r =
            run("LANG=C LANGUAGE= LC_ALL=C XDG_CONFIG_HOME=" + quoted(home.path().string()) +
                " " QUILLO_BIN "/quillo --procfs " + quoted((tree / "proc").string()) +
                " --sysfs " + quoted((tree / "sys").string()) + " " + command);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    void expectGolden(const std::string& actual, const std::string& name) {
        const std::filesystem::path file = golden / (std::string(GetParam()) + "." + name);
        if (std::getenv("QUILLO_UPDATE_GOLDEN")) {
            TempDir().write(file, actual);  // an absolute path replaces the folder
            return;
        }
        ASSERT_TRUE(std::filesystem::exists(file)) << file << " missing: run ./dev golden";
        EXPECT_EQ(actual, readFile(file)) << file;
    }
    void compare(const std::string& command, const std::string& name) {
        expectGolden(masked(Json::parse(output(command))).dump(2) + "\n", name + ".json");
    }
};

TEST_P(Golden, Sample) {
    compare("sample --json --interval 0", "sample");
}

TEST_P(Golden, Snapshot) {
    compare("snapshot --json --ticks 2 --interval 0.1", "snapshot");
}

TEST_P(Golden, Metrics) {
    expectGolden(masked(output("metrics --interval 0")), "metrics.txt");
}

INSTANTIATE_TEST_SUITE_P(Trees, Golden, ::testing::ValuesIn(trees), [](const auto& info) {
    std::string name = info.param;
    std::erase(name, '-');
    return name;
});

TEST(GoldenTrees, EveryFixtureTreeHasItsOutput) {
    std::set<std::string> listed(std::begin(trees), std::end(trees)), found;
    for (const auto& entry : std::filesystem::directory_iterator(fixtures)) {
        if (entry.is_directory()) found.insert(entry.path().filename().string());
    }
    EXPECT_EQ(listed, found);
}

}  // namespace
