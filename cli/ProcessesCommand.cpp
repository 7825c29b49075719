#include "ProcessesCommand.hpp"

#include <cstdio>

#include "metrics/ProcessAPI.hpp"
#include "widget/Format.hpp"

namespace quillo::cli {

namespace {

const char* statusName(std::int32_t status) {
    switch (status) {
        case SIDL:
            return "idle";
        case SRUN:
            return "run";
        case SSLEEP:
            return "sleep";
        case SSTOP:
            return "stop";
        case SZOMB:
            return "zombie";
        default:
            return "-";
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
        char line[160];
        std::snprintf(line, sizeof line, "%7s %7s %7s %10s %-6s %-6s %s\n", "PID", "PPID", "PGID",
                      "UID", "STATUS", "ARCH", "COMMAND");
        out += line;
        for (const ProcessInfo& p : processes) {
            std::snprintf(line, sizeof line, "%7lld %7lld %7lld %10lld %-6s %-6s ",
                          static_cast<long long>(p.pid), static_cast<long long>(p.ppid),
                          static_cast<long long>(p.pgid), static_cast<long long>(p.uid),
                          statusName(p.status), archName(p.arch));
            out += line;
            out += visibleText(p.command);
            out += '\n';
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

}  // namespace quillo::cli
