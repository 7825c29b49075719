#include "ProcessesCommand.hpp"

#include <pwd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "Output.hpp"
#include "common/CommandLine.hpp"
#include "quillo/metrics/ProcessAPI.hpp"
#include "quillo/metrics/ProcessUsage.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/widget/Format.hpp"

namespace quillo::cli {

namespace {

// The state as ps writes it; the record keeps the BSD state, in which Linux's sleeping,
// waiting on a disk and idle are one.
const char* stateLetter(std::int32_t status) {
    switch (status) {
        case SRUN:
            return "R";
        case SSLEEP:
            return "S";
        case SSTOP:
            return "T";
        case SZOMB:
            return "Z";
        case SIDL:
            return "I";
        default:
            return "?";
    }
}

const char* archName(std::int32_t arch) {
    switch (arch) {
        case CPU_TYPE_X86_64:
            return "x86_64";
        case CPU_TYPE_I386:
            return "i386";
        case CPU_TYPE_ARM64:
            return "arm64";
        case CPU_TYPE_ARM:
            return "arm";
        case CPU_TYPE_POWERPC64:
            return "ppc64";
        case CPU_TYPE_POWERPC:
            return "ppc";
        default:
            return "-";
    }
}

}  // namespace

CLI::App* addProcessesCommand(CLI::App& app, ProcessesOptions& options) {
    auto* command = app.add_subcommand("processes", "List the running processes");
    command->add_flag("--json", options.json,
                      "print a JSON array of records with pid, ppid, pgid, uid, command, arch "
                      "and status");
    return command;
}

int runProcesses(const ProcessesOptions& options) {
    const std::vector<ProcessInfo> processes = ProcessAPI::list();
    std::string out;
    if (options.json) {
        // Written directly: a tree of two thousand small objects would cost more than
        // reading the processes did.
        out.reserve(processes.size() * 128);
        out += "[";
        char numbers[160];
        for (std::size_t i = 0; i < processes.size(); ++i) {
            const ProcessInfo& p = processes[i];
            std::snprintf(
                numbers, sizeof numbers,
                "%s\n {\"pid\": %lld, \"ppid\": %lld, \"pgid\": %lld, \"uid\": %lld, \"command\": ",
                i == 0 ? "" : ",", static_cast<long long>(p.pid), static_cast<long long>(p.ppid),
                static_cast<long long>(p.pgid), static_cast<long long>(p.uid));
            out += numbers;
            out += jsonString(p.command);
            std::snprintf(numbers, sizeof numbers, ", \"arch\": %d, \"status\": %d}", int(p.arch),
                          int(p.status));
            out += numbers;
        }
        out += processes.empty() ? "]\n" : "\n]\n";
    } else {
        char line[200];
        UserNames users;
        std::snprintf(line, sizeof line, "%7s %7s %7s %-10s %-1s %-6s %s\n", "PID", "PPID", "PGID",
                      "USER", "S", "ARCH", "COMMAND");
        out += line;
        for (const ProcessInfo& p : processes) {
            std::snprintf(line, sizeof line, "%7lld %7lld %7lld %-10s %-1s %-6s ",
                          static_cast<long long>(p.pid), static_cast<long long>(p.ppid),
                          static_cast<long long>(p.pgid), visibleText(users(p.uid)).c_str(),
                          stateLetter(p.status), archName(p.arch));
            out += line;
            out += visibleText(p.command);
            out += '\n';
        }
    }
    writeOutput(out);
    return 0;
}

namespace {

// Resident memory as top's columns show it: mebibytes below a gibibyte, then gibibytes.
std::string residentText(std::uint64_t bytes) {
    char text[32];
    const double mib = double(bytes) / double(1 << 20);
    if (mib < 1024)
        std::snprintf(text, sizeof text, "%.1fM", mib);
    else
        std::snprintf(text, sizeof text, "%.2fG", mib / 1024);
    return text;
}

}  // namespace

CLI::App* addTopCommand(CLI::App& app, TopOptions& options) {
    auto* command = app.add_subcommand("top", "List the busiest processes by CPU or memory");
    command->add_option("--by", options.by, "what busiest means")
        ->capture_default_str()
        ->check(CLI::IsMember({"cpu", "memory"}));
    command->add_option("-n", options.count, "how many to list")
        ->capture_default_str()
        ->transform(wholeRange(1, 1'000'000));
    command->add_option("--interval", options.interval, "seconds over which the CPU is measured")
        ->capture_default_str()
        ->transform(finiteRange(0.1, 3600.0));
    command->add_flag("--json", options.json,
                      "print a JSON array of objects with pid, user, command, cpu (percent of one "
                      "core) and rss (bytes)");
    command->add_flag("--by-unit", options.byUnit,
                      "group the processes by their cgroup (systemd unit or container), summing "
                      "CPU and memory; in JSON each with unit, processes, cpu and rss");
    return command;
}

namespace {

int printUnits(const std::vector<UnitUsage>& units, bool json) {
    std::string out;
    char line[200];
    if (json) {
        out += "[";
        for (std::size_t i = 0; i < units.size(); ++i) {
            const UnitUsage& u = units[i];
            out += i == 0 ? "\n {\"unit\": " : ",\n {\"unit\": ";
            out += jsonString(u.unit);
            std::snprintf(line, sizeof line, ", \"processes\": %zu, \"cpu\": %.1f, \"rss\": %llu}",
                          u.processes, u.cpu, static_cast<unsigned long long>(u.rss));
            out += line;
        }
        out += units.empty() ? "]\n" : "\n]\n";
    } else {
        std::snprintf(line, sizeof line, "%5s %6s %8s %s\n", "TASKS", "CPU%", "RES", "UNIT");
        out += line;
        for (const UnitUsage& u : units) {
            std::snprintf(line, sizeof line, "%5zu %6.1f %8s ", u.processes, u.cpu,
                          residentText(u.rss).c_str());
            out += line + visibleText(u.unit) + "\n";
        }
    }
    writeOutput(out);
    return 0;
}

}  // namespace

int runTop(const TopOptions& options, LinuxPlatform& platform) {
    ProcessUsageReader reader;
    reader.sample();
    std::this_thread::sleep_for(std::chrono::duration<double>(options.interval));
    const UsageOrder order = options.by == "memory" ? UsageOrder::memory : UsageOrder::cpu;
    if (options.byUnit) {
        return printUnits(
            busiestUnits(
                reader.sample(),
                [&](std::int64_t pid) { return platform.processes().cgroup(std::int32_t(pid)); },
                order, std::size_t(options.count)),
            options.json);
    }
    const std::vector<ProcessUsage> top =
        busiest(reader.sample(), order, std::size_t(options.count));
    std::string out;
    char line[200];
    if (options.json) {
        out += "[";
        for (std::size_t i = 0; i < top.size(); ++i) {
            const ProcessUsage& p = top[i];
            std::snprintf(line, sizeof line, "%s\n {\"pid\": %lld, \"user\": ", i == 0 ? "" : ",",
                          static_cast<long long>(p.pid));
            out += line;
            out += jsonString(p.user);
            out += ", \"command\": ";
            out += jsonString(p.command);
            std::snprintf(line, sizeof line, ", \"cpu\": %.1f, \"rss\": %llu}", p.cpu,
                          static_cast<unsigned long long>(p.rss));
            out += line;
        }
        out += top.empty() ? "]\n" : "\n]\n";
    } else {
        std::snprintf(line, sizeof line, "%7s %-10s %6s %8s %s\n", "PID", "USER", "CPU%", "RES",
                      "COMMAND");
        out += line;
        for (const ProcessUsage& p : top) {
            std::snprintf(line, sizeof line, "%7lld %-10s %6.1f %8s ",
                          static_cast<long long>(p.pid), visibleText(p.user).c_str(), p.cpu,
                          residentText(p.rss).c_str());
            out += line + visibleText(p.command) + "\n";
        }
    }
    writeOutput(out);
    return 0;
}

}  // namespace quillo::cli
