#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "quillo/platform/linux/LinuxPlatform.hpp"

namespace quillo::cli {

struct MetricsOptions {
    double interval = 0.5;
};

struct ServeOptions {
    std::vector<std::string> listen;
    std::string webConfig;  // TLS and users, as Prometheus exporters read them
};

// The port `quillo serve` listens on unless told otherwise: outside the range
// 9100-9999 of exporters, which the Prometheus project's list of port allocations has
// filled, and clear of the ports of the Prometheus server (9090-9094), Grafana (3000),
// and the exporters a desktop commonly runs (node 9100, process 9256, OpenTelemetry 9464).
inline constexpr int defaultExporterPort = 9089;

CLI::App* addMetricsCommand(CLI::App& app, MetricsOptions& options);
CLI::App* addServeCommand(CLI::App& app, ServeOptions& options);

// `quillo metrics`: one exposition on standard output.
int runMetrics(const MetricsOptions& options, LinuxPlatform& platform);
// `quillo serve`: the exporter, until SIGTERM or SIGINT.
int runServe(const ServeOptions& options, LinuxPlatform& platform);

}  // namespace quillo::cli
