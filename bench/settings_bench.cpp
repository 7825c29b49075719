// Guards the cost of a settings lookup, which the panel makes several times a tick.
// BM_BareRead is the floor: the open/read/close that any lookup of a file must pay.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "quillo/settings/Configuration.hpp"

namespace {

const std::filesystem::path& suiteFile() {
    static const std::filesystem::path path = [] {
        const auto p = std::filesystem::temp_directory_path() / "quillo-bench-suite.json";
        std::ofstream(p) << R"({
  "RefreshRate": 2.0,
  "NormalColorKey": [0.168, 0.674, 0.176, 1.0],
  "WarningColorKey": [0.878, 0.627, 0.156, 1.0],
  "CriticalColorKey": [0.819, 0.282, 0.247, 1.0]
}
)";
        return p;
    }();
    return path;
}

void BM_BareRead(benchmark::State& state) {
    char buffer[4096];
    for (auto _ : state) {
        const int fd = ::open(suiteFile().c_str(), O_RDONLY | O_CLOEXEC);
        benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
        ::close(fd);
    }
}
BENCHMARK(BM_BareRead);

void BM_DoubleValue(benchmark::State& state) {
    quillo::Configuration config(std::make_unique<quillo::SettingsSuite>(suiteFile()));
    for (auto _ : state) benchmark::DoNotOptimize(config.doubleValue(config.refreshRateKey));
}
BENCHMARK(BM_DoubleValue);

void BM_ColorComponents(benchmark::State& state) {
    quillo::Configuration config(std::make_unique<quillo::SettingsSuite>(suiteFile()));
    for (auto _ : state) benchmark::DoNotOptimize(config.colorComponents(config.criticalColorKey));
}
BENCHMARK(BM_ColorComponents);

}  // namespace
