// End to end over every fixture tree: `quillo sample --json`, `quillo snapshot --json`
// and `quillo metrics` against checked-in output. What depends on the moment (the
// uptime, the live disk) is masked. After a deliberate change, `./dev golden` writes the new
// output; review the difference before committing it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
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

// What the exporter, `sample` and the panel share, they say alike on every tree.
TEST_P(Golden, OutputsAgreeOnWhatTheyShare) {
    const Json sample = Json::parse(output("sample --json --interval 0"));
    const Json panel = Json::parse(output("snapshot --json --ticks 2 --interval 0.1"));
    std::map<std::string, double> metrics;
    std::istringstream lines(output("metrics --interval 0"));
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("#"))
            metrics[line.substr(0, line.rfind(' '))] = std::stod(line.substr(line.rfind(' ') + 1));
    }
    const auto metric = [&](const std::string& key) {
        const auto it = metrics.find(key);
        return it == metrics.end() ? std::optional<double>() : it->second;
    };
    EXPECT_EQ(metric("quillo_cpus{kind=\"logical\"}").value_or(0), sample["logicalCores"]);
    EXPECT_EQ(metric("quillo_processes").value_or(0), sample["processCounts"]["processCount"]);
    if (const auto threads = metric("quillo_threads")) {
        EXPECT_EQ(*threads, sample["processCounts"]["threadCount"]);
    }
    if (const auto load = metric("quillo_load1")) {
        EXPECT_EQ(*load, sample["loadAverage"]["long"][0]);
        EXPECT_TRUE(panel["loadLabel"].get<std::string>().starts_with(
            "Load Average: " + sample["loadAverage"]["long"][0].dump()));
    }
    if (const auto used = metric("quillo_memory_used_ratio")) {
        EXPECT_NEAR(panel["memoryProgressBar"]["current"].get<double>(), 100 * *used, 1e-9);
    }
    const std::string level = sample["thermalLevel"];
    if (level == "Normal" || level == "Danger" || level == "Crisis") {
        std::string lower = level;
        lower[0] = char(std::tolower(lower[0]));
        EXPECT_EQ(metric("quillo_thermal_level{level=\"" + lower + "\"}"), 1.0) << level;
    }
    for (const char* family : {"ipv4", "ipv6"}) {
        const Json& primary = sample["globalNetworkState"][family]["primaryInterface"];
        if (primary.is_null()) continue;
        const std::string prefix = "quillo_network_primary_info{family=\"" + std::string(family) +
                                   "\",interface=" + Json(primary.get<std::string>()).dump();
        EXPECT_EQ(std::count_if(metrics.begin(), metrics.end(),
                                [&](const auto& m) { return m.first.starts_with(prefix); }),
                  1)
            << prefix;
    }
    if (!sample["battery"].is_null()) {
        EXPECT_EQ(sample["battery"]["charge"], panel["batteryProgressBar"]["current"]);
    }
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
