#include "ProcessesCommand.hpp"

#include <pwd.h>

#include <cstdio>
#include <map>
#include <string>

#include "quillo/metrics/ProcessAPI.hpp"
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

// User names by uid, looked up once each: a listing has a few users and many processes.
class UserNames {
  public:
    const std::string& operator()(std::int64_t uid) {
        auto it = names_.find(uid);
        if (it != names_.end()) return it->second;
        const passwd* pw = uid >= 0 && uid <= UINT32_MAX ? ::getpwuid(uid_t(uid)) : nullptr;
        return names_.emplace(uid, pw ? visibleText(pw->pw_name) : std::to_string(uid)).first->second;
    }

  private:
    std::map<std::int64_t, std::string> names_;
};

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
                          static_cast<long long>(p.pgid), users(p.uid).c_str(),
                          stateLetter(p.status), archName(p.arch));
            out += line;
            out += visibleText(p.command);
            out += '\n';
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

}  // namespace quillo::cli
