#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quillo/platform/Platform.hpp"
#include "quillo/platform/Records.hpp"
#include "quillo/platform/linux/FileReader.hpp"

namespace quillo {

// Processes: the numeric folders of procfs and, in each, stat, status and exe.

// procfs PID/stat: the command between the first "(" and the last ")" (a name may hold
// both), then the state letter mapped to the BSD states (R run; S, D, I sleep; T, t
// stopped; Z, X zombie; anything else 0), the parent, the process group and the flags.
bool parseProcessStat(std::string_view text, kinfo_proc& info);
// procfs PID/status: the effective user, the second field of "Uid:".
std::optional<std::uint32_t> parseEffectiveUid(std::string_view text);
// The CPU type of an ELF executable from the first 20 bytes of its header.
std::optional<cpu_type_t> cpuTypeOfElf(std::string_view header);

// procfs PID/stat's name, flags, start time, user and system time (in clock ticks); false when
// the text is damaged. Its rss field is not taken: recent kernels fill it from a per-CPU
// counter that can be hundreds of kilobytes off.
struct ProcessStatFigures {
    std::string_view comm;
    std::uint64_t flags = 0, startTime = 0, userTicks = 0, systemTicks = 0;
};
bool parseProcessStatFigures(std::string_view text, ProcessStatFigures& figures);
// procfs PID/statm's resident pages, the second field: the figure status's VmRSS and ps
// show, summed exactly where the kernel keeps per-CPU counts.
std::optional<std::uint64_t> parseStatmResidentPages(std::string_view text);

class ProcessFiles {
  public:
    explicit ProcessFiles(FileReader& files) : files_(files) {}

    bool list(std::vector<std::int32_t>& pids);
    // How many processes there are, by the same listing; absent without procfs.
    std::optional<std::size_t> count();
    std::optional<kinfo_proc> info(std::int32_t pid);
    std::optional<cpu_type_t> cpuType(std::int32_t pid);
    // PID/stat and PID/statm of every process. The user is the owner procfs gives stat,
    // except where that is root: a process that made itself non-dumpable (ssh-agent, a
    // worker that dropped its privileges) has its files given to root, so status says.
    bool usage(std::vector<ProcessUsageSample>& out);
    // PID/cmdline with its arguments apart by spaces, as ps's args shows it; absent for
    // a kernel thread, whose is empty, or a process gone.
    std::optional<std::string> commandLine(std::int32_t pid);
    // The cgroup a process belongs to, as systemd-cgtop groups them: its cgroup v2 path,
    // else (a v1 or hybrid machine, whose v2 hierarchy may hold nobody) systemd's named
    // hierarchy's, else the memory controller's; absent for a process gone.
    std::optional<std::string> cgroup(std::int32_t pid);
    // Sends signal to the process pid is while it still started at startTime (clock
    // ticks after boot), so that a pid the kernel has given to another process since it
    // was listed is never signalled. 0 when sent, else the errno: ESRCH for a process
    // gone or replaced, EPERM for one of another user.
    int signal(std::int32_t pid, std::uint64_t startTime, int signal);

    // The kernel's own limit on process identifiers.
    static constexpr std::size_t maximumProcesses = 4u << 20;

  private:
    // The numeric folders of procfs, at most maximumProcesses; false without procfs.
    template <class F>
    bool forEachPid(F&& f);
    bool listPids(std::vector<std::int32_t>& pids);

    FileReader& files_;

    // CPU types of the executables met during one listing, by the executable's identity
    // (device and inode of the file exe opens): most processes share a few
    // executables, and a stat is cheaper than opening one. Paths would not do: the
    // same path names different files in different mount namespaces. Cleared at each
    // listing, so an executable replaced on disk is read again the next time.
    struct Identity {
        dev_t device;
        ino_t inode;
        friend bool operator==(const Identity&, const Identity&) = default;
    };
    struct IdentityHash {
        std::size_t operator()(const Identity& id) const {
            return std::hash<std::uint64_t>{}(std::uint64_t(id.inode) * 0x9E3779B97F4A7C15u ^
                                              std::uint64_t(id.device));
        }
    };
    std::mutex cpuTypesMutex_;
    std::unordered_map<Identity, std::optional<cpu_type_t>, IdentityHash> cpuTypes_;
};

}  // namespace quillo
