#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "support/Run.hpp"

using namespace quillo::test;
using ::testing::HasSubstr;
using Json = nlohmann::ordered_json;

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

    // Alone, as on a server without the desktop package: the missing panel is named.
    const RunResult alone =
        run("PATH=/nonexistent " + quoted((odd / "quillo").string()) + " snapshot");
    EXPECT_EQ(alone.status, 127);
    EXPECT_THAT(alone.err, HasSubstr("the desktop panel is not installed (the quillo-desktop"));
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
        {"quillo snapshot --interval 0.01", "from 0.1 to 86400, not '0.01'"},
        {"quillo sample --interval nan", "from 0 to 3600"},
        {"quillo top -n 0x10", "takes a whole number from 1 to 1000000, not '0x10'"},
        {"quillo-term --frames +2", "not '+2'"},
        {"quillo serve --listen 127.0.0.1:4294967297", "has no port from 0 to 65535"},
        {"quillo help smaple", "quillo: no command 'smaple'; did you mean 'sample'?"},
        {"quillo-panel --snapshto",
         "quillo-panel: unknown option '--snapshto'; did you mean '--snapshot'?"},
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

TEST(Quillo, DebugSwitchExplainsNeutralValues) {
    const std::string tree = std::string(QUILLO_FIXTURES) + "/linux/laptop-discharging";
    const std::string sample = QUILLO_BIN "/quillo --procfs " + tree + "/proc --sysfs " + tree +
                               "/sys sample --interval 0";
    EXPECT_EQ(run(sample).err, "") << "silent in normal use";
    const RunResult debug = run("QUILLO_DEBUG=1 " + sample);
    EXPECT_EQ(debug.status, 0);
    EXPECT_THAT(debug.err, HasSubstr("quillo: debug: power_supply/BAT0/temp: missing\n"));
    EXPECT_THAT(debug.err, HasSubstr("quillo: debug: meminfo: MemAvailable missing; estimated\n"));
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

enum class Damage { empty, garbage, unreadable, fifos };

class BadRoots : public ::testing::TestWithParam<Damage> {
  protected:
    TempDir dir;
    std::string roots;

    // Every file of a laptop's tree damaged, or no file at all. FIFOs must not hang a
    // command, nor a tiny file naming millions of CPUs swell it.
    void SetUp() override {
        std::mt19937 rng(7);
        if (GetParam() != Damage::empty) {
            std::filesystem::copy(std::string(QUILLO_FIXTURES) + "/linux/laptop-discharging",
                                  dir.path(),
                                  std::filesystem::copy_options::recursive |
                                      std::filesystem::copy_options::copy_symlinks);
        }
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
            if (entry.symlink_status().type() == std::filesystem::file_type::regular)
                files.push_back(entry.path());
        for (const auto& file : files) {
            std::filesystem::remove(file);
            if (GetParam() == Damage::unreadable) {
                // A folder where a file should be fails every read, as root too.
                std::filesystem::create_directories(file);
                continue;
            }
            if (GetParam() == Damage::fifos) {
                ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0) << file;
                continue;
            }
            std::string bytes(1 + rng() % 600, '\0');
            for (char& c : bytes) c = char(rng());
            // Some lines that almost parse, to reach deeper.
            bytes += "\ncpu  1 x 3\nMemTotal: -5 kB\nBattery\n0::/..\n  eth0: 1 2\n";
            dir.write(file, bytes);  // an absolute path, written as it stands
        }
        if (GetParam() == Damage::fifos) {
            std::string endless;
            for (int i = 0; i < 1500; ++i) endless += "0-1048575,";
            dir.write("sys/devices/system/cpu/online", endless + "0\n");
            const auto settings = dir.path() / "config" / "quillo" / "io.quillo.shared.json";
            std::filesystem::create_directories(settings.parent_path());
            ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0) << "where the settings are sought";
        }
        roots = dir.rootOptions();
    }

    RunResult quillo(const std::string& args) {
        // Sanitizers reserve terabytes of address space, so the limit is for plain builds.
        const std::string limit = std::getenv("ASAN_OPTIONS") ? "" : "ulimit -v 1000000; ";
        return run(limit + "QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" +
                   quoted((dir.path() / "config").string()) + " timeout 30 " QUILLO_BIN "/quillo " +
                   args + roots);
    }
};

TEST_P(BadRoots, EveryCommandExitsZeroWithNeutralValues) {
    const RunResult sample = quillo("sample --json --interval 0");
    ASSERT_EQ(sample.status, 0) << sample.err;
    const auto s = nlohmann::json::parse(sample.out);
    EXPECT_TRUE(s["modelName"].is_string());
    EXPECT_TRUE(s["battery"].is_null() || s["battery"].is_object());
    const RunResult table = quillo("sample --interval 0");
    ASSERT_EQ(table.status, 0) << table.err;
    for (const char c : table.out) {
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20)
            << "a raw control character";
    }

    const RunResult processes = quillo("processes --json");
    ASSERT_EQ(processes.status, 0) << processes.err;
    EXPECT_TRUE(nlohmann::json::parse(processes.out).is_array());
    EXPECT_EQ(quillo("processes").status, 0);
    const RunResult top = quillo("top --json --interval 0.1");
    ASSERT_EQ(top.status, 0) << top.err;
    EXPECT_TRUE(nlohmann::json::parse(top.out).is_array());
    const RunResult metrics = quillo("metrics --interval 0");
    ASSERT_EQ(metrics.status, 0) << metrics.err;
    EXPECT_EQ(metrics.out.find("NaN"), std::string::npos);
    EXPECT_EQ(metrics.out.find("quillo_memory_total_bytes 0\n"), std::string::npos)
        << "what cannot be read is left out, not 0";

    const RunResult snapshot = quillo("snapshot --json --ticks 2 --interval 0.1");
    ASSERT_EQ(snapshot.status, 0) << snapshot.err;
    const auto outlets = nlohmann::json::parse(snapshot.out);
    EXPECT_EQ(outlets.size(), 15u);
    EXPECT_THAT(outlets["loadLabel"].get<std::string>(), HasSubstr("Load Average: "));
}

std::string damageName(const ::testing::TestParamInfo<Damage>& info) {
    static const char* const names[] = {"Empty", "Garbage", "Unreadable", "Fifos"};
    return names[int(info.param)];
}
INSTANTIATE_TEST_SUITE_P(Roots, BadRoots,
                         ::testing::Values(Damage::empty, Damage::garbage, Damage::unreadable,
                                           Damage::fifos),
                         damageName);

TEST(MissingRoot, IsAClearErrorForEveryCommand) {
    for (const char* command : {"sample", "processes", "snapshot", "--terminal", ""}) {
        const RunResult r =
            run(std::string(QUILLO_BIN "/quillo ") + command + " --procfs /nonexistent/proc");
        EXPECT_NE(r.status, 0) << command;
        EXPECT_THAT(r.err, HasSubstr("/nonexistent/proc")) << command;
    }
}

TEST(UnreadableRoot, PermissionDeniedReadsAsNeutral) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "proc");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir.path() / "proc").c_str(), 0);
    // Root reads a mode-000 folder anyway: as root, the command runs as nobody.
    const std::string as =
        ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const RunResult r = run(as + QUILLO_BIN "/quillo sample --json --interval 0 --procfs " +
                            quoted((dir.path() / "proc").string()));
    ::chmod((dir.path() / "proc").c_str(), 0700);
    EXPECT_EQ(r.status, 0) << r.err;
}

// End to end over every fixture tree: `quillo sample --json`, `quillo snapshot --json`
// and `quillo metrics` against checked-in output. What depends on the moment (the
// uptime, the live disk) is masked. After a deliberate change, `./dev golden` writes the new
// output; review the difference before committing it.
const std::filesystem::path fixtures = std::filesystem::path(QUILLO_FIXTURES) / "linux";
const std::filesystem::path golden = std::filesystem::path(QUILLO_FIXTURES) / "../golden";

// Every tree under the fixtures, so that a new one cannot go without its goldens.
std::vector<std::string> trees() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fixtures))
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Json masked(Json output) {
    for (const char* key : {"uptime", "uptimeLabel", "hddPercentLabel", "hddProgressBar"}) {
        if (output.contains(key)) output[key] = "<varies>";
    }
    // A cgroup's CPU share is its CPU time over what its quota allowed in the time that
    // passed, which the clock decides even on a tree that never changes.
    if (output.contains("cgroup") && !output["cgroup"].is_null()) output["usageCPU"] = "<varies>";
    return output;
}

// The exposition's lines about the live disk, their values masked.
std::string masked(const std::string& metrics) {
    std::string out;
    std::istringstream lines(metrics);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("quillo_disk_size") || line.starts_with("quillo_disk_avail") ||
            line.starts_with("quillo_disk_used") || line.starts_with("quillo_level{row=\"disk\"}"))
            line = line.substr(0, line.rfind(' ')) + " <varies>";
        out += line + "\n";
    }
    return out;
}

class Golden : public ::testing::TestWithParam<std::string> {
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
        const std::filesystem::path file = golden / (GetParam() + "." + name);
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
    // The exporter keeps the machine's memory where the panel shows a cgroup's.
    if (const auto limit = metric("quillo_cgroup_memory_limit_bytes")) {
        EXPECT_NEAR(panel["memoryProgressBar"]["current"].get<double>(),
                    100 * *metric("quillo_cgroup_memory_used_bytes") / *limit, 1e-9);
    } else if (const auto used = metric("quillo_memory_used_ratio")) {
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

INSTANTIATE_TEST_SUITE_P(Trees, Golden, ::testing::ValuesIn(trees()), [](const auto& info) {
    std::string name = info.param;
    std::erase(name, '-');
    return name;
});

}  // namespace
