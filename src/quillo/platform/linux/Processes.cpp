#include "quillo/platform/linux/Processes.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Text.hpp"
#include "quillo/platform/linux/Cgroup.hpp"
#include "quillo/platform/linux/Machine.hpp"

namespace quillo {

namespace {

constexpr std::uint64_t PF_KTHREAD = 0x00200000;

// PID/stat's command, between the first "(" and the last ")" (a name may hold both) and
// cut to MAXCOMLEN, and the fields after it; false when the parentheses are missing.
bool splitProcessStat(std::string_view text, std::string_view& comm, std::string_view& rest) {
    const std::size_t open = text.find('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    comm = text.substr(open + 1, std::min<std::size_t>(close - open - 1, MAXCOMLEN));
    rest = text.substr(close + 1);
    return true;
}

}  // namespace

bool parseProcessStat(std::string_view text, kinfo_proc& info) {
    std::string_view comm, rest;
    if (!splitProcessStat(text, comm, rest)) return false;
    // state ppid pgrp session tty_nr tpgid flags
    std::string_view fields[7];
    const int n = leadingFields(rest, fields);
    if (n < 3 || fields[0].size() != 1) return false;
    info.p_flag = n == 7 ? std::uint32_t(parseUnsigned(fields[6]).value_or(0)) : 0;
    const auto ppid = parseSigned(fields[1]);
    const auto pgid = parseSigned(fields[2]);
    if (!ppid || !pgid) return false;
    std::memcpy(info.p_comm, comm.data(), comm.size());
    info.p_comm[comm.size()] = '\0';
    switch (fields[0][0]) {
        case 'R':
            info.p_stat = SRUN;
            break;
        case 'S':
        case 'D':
        case 'I':
            info.p_stat = SSLEEP;
            break;
        case 'T':
        case 't':
            info.p_stat = SSTOP;
            break;
        case 'Z':
        case 'X':
            info.p_stat = SZOMB;
            break;
        default:
            info.p_stat = 0;
            break;
    }
    info.e_ppid = std::int32_t(*ppid);
    info.e_pgid = std::int32_t(*pgid);
    return true;
}

bool parseProcessStatFigures(std::string_view text, ProcessStatFigures& figures) {
    std::string_view rest;
    if (!splitProcessStat(text, figures.comm, rest)) return false;
    // From the state on: flags are the 7th, utime and stime the 12th and 13th, starttime
    // the 20th.
    std::string_view fields[20];
    if (leadingFields(rest, fields) < 20) return false;
    const auto flags = parseUnsigned(fields[6]);
    const auto utime = parseUnsigned(fields[11]);
    const auto stime = parseUnsigned(fields[12]);
    const auto start = parseUnsigned(fields[19]);
    if (!flags || !utime || !stime || !start) return false;
    figures.flags = *flags;
    figures.userTicks = *utime;
    figures.systemTicks = *stime;
    figures.startTime = *start;
    return true;
}

std::optional<std::uint64_t> parseStatmResidentPages(std::string_view text) {
    std::string_view fields[2];
    if (leadingFields(text, fields) < 2) return std::nullopt;
    return parseUnsigned(fields[1]);
}

std::optional<std::uint32_t> parseEffectiveUid(std::string_view text) {
    std::optional<std::uint32_t> uid;
    forEachLine(text, [&](std::string_view line) {
        if (!line.starts_with("Uid:")) return true;
        std::string_view fields[2];
        if (leadingFields(line.substr(4), fields) == 2) {
            const auto value = parseUnsigned(fields[1]);
            if (value && *value <= UINT32_MAX) uid = std::uint32_t(*value);
        }
        return false;
    });
    return uid;
}

std::optional<cpu_type_t> cpuTypeOfElf(std::string_view h) {
    if (h.size() < 20 || h.substr(0, 4) != std::string_view("\x7f"
                                                            "ELF",
                                                            4))
        return std::nullopt;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(h[i]); };
    const int elfClass = byte(4);
    const int data = byte(5);
    if ((elfClass != 1 && elfClass != 2) || (data != 1 && data != 2)) return std::nullopt;
    const unsigned machine = data == 1 ? byte(18) | byte(19) << 8 : byte(18) << 8 | byte(19);
    switch (machine) {
        case 3:
            return CPU_TYPE_I386;  // EM_386
        case 62:
            return elfClass == 2 ? CPU_TYPE_X86_64 : CPU_TYPE_I386;  // x32 is 32-bit
        case 40:
            return CPU_TYPE_ARM;  // EM_ARM
        case 183:
            return CPU_TYPE_ARM64;  // EM_AARCH64
        case 20:
            return CPU_TYPE_POWERPC;  // EM_PPC
        case 21:
            return CPU_TYPE_POWERPC64;  // EM_PPC64
        default:
            return std::nullopt;
    }
}

namespace {

// "PID/name" without allocating: a process list reads several files per process.
struct ProcessPath {
    char text[48];
    ProcessPath(std::int32_t pid, const char* name) {
        std::snprintf(text, sizeof text, "%d/%s", int(pid), name);
    }
};

// One read of the start of a procfs file into a caller's buffer; what the process list
// needs of stat and status lies well within the first 4 KiB. Thousands of these make a
// listing, so the file is not checked to be regular: opened without blocking and read
// once into a bounded buffer, a FIFO or a device planted in a root reads as damage. With
// owner, the open file's status too (procfs gives a process's files its effective user).
std::optional<std::string_view> readStart(int dir, const char* path, char* buffer, std::size_t size,
                                          struct stat* owner = nullptr) {
    const int fd = ::openat(dir, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    const bool known = !owner || ::fstat(fd, owner) == 0;
    ::close(fd);
    if (n < 0 || !known) return std::nullopt;
    return std::string_view(buffer, std::size_t(n));
}

}  // namespace

bool ProcessFiles::list(std::vector<std::int32_t>& pids) {
    {
        std::lock_guard lock(cpuTypesMutex_);
        cpuTypes_.clear();
    }
    return listPids(pids);
}

template <class F>
bool ProcessFiles::forEachPid(F&& f) {
    if (files_.rootDescriptor(Fs::proc) < 0) return false;
    files_.forEachEntryTick(
        Fs::proc, "",
        [&](std::string_view name) {
            const auto pid = parseUnsigned(name);
            if (pid && *pid <= INT32_MAX) f(std::int32_t(*pid));
        },
        maximumProcesses);
    return true;
}

bool ProcessFiles::listPids(std::vector<std::int32_t>& pids) {
    pids.clear();
    return forEachPid([&](std::int32_t pid) { pids.push_back(pid); });
}

std::optional<std::size_t> ProcessFiles::count() {
    // A procfs name that starts with a digit is a process's: nothing else there does, so
    // the names need not be parsed to be counted.
    if (files_.rootDescriptor(Fs::proc) < 0) return std::nullopt;
    std::size_t processes = 0;
    files_.forEachEntryTick(
        Fs::proc, "", [&](std::string_view name) { processes += name[0] >= '1' && name[0] <= '9'; },
        maximumProcesses);
    return processes;
}

std::optional<kinfo_proc> ProcessFiles::info(std::int32_t pid) {
    const int root = files_.rootDescriptor(Fs::proc);
    char buffer[4096];
    kinfo_proc info;
    const ProcessPath statPath(pid, "stat");
    const auto stat = readStart(root, statPath.text, buffer, sizeof buffer);
    if (!stat || !parseProcessStat(*stat, info)) {
        debug::note(statPath.text, stat ? "malformed" : "unreadable");
        return std::nullopt;
    }
    // Kernel threads always run as root; their status need not be generated to say so.
    if (info.p_flag & PF_KTHREAD) return info;
    const ProcessPath statusPath(pid, "status");
    const auto status = readStart(root, statusPath.text, buffer, sizeof buffer);
    const auto uid = status ? parseEffectiveUid(*status) : std::nullopt;
    if (!uid) {
        debug::note(statusPath.text, status ? "no usable Uid line" : "unreadable");
        return std::nullopt;
    }
    info.cr_uid = *uid;
    return info;
}

bool ProcessFiles::usage(std::vector<ProcessUsageSample>& out) {
    out.clear();
    const int root = files_.rootDescriptor(Fs::proc);
    if (root < 0) return false;
    const std::uint64_t nanosecondsPerTick = 1'000'000'000u / clockTicksPerSecond();
    const std::uint64_t page = pageSize();
    thread_local std::vector<std::int32_t> pids;
    listPids(pids);
    out.reserve(pids.size());
    char buffer[1024];  // stat's fields up to starttime fit well within this with a 16-byte name
    char statm[128];    // seven numbers of at most 20 digits
    char status[1024];  // Uid is its ninth line
    for (const std::int32_t pid : pids) {
        const ProcessPath path(pid, "stat");
        struct stat owner {};
        const auto text = readStart(root, path.text, buffer, sizeof buffer, &owner);
        if (!text) continue;  // ended since the listing
        ProcessStatFigures figures;
        if (!parseProcessStatFigures(*text, figures)) {
            debug::note(path.text, "malformed");
            continue;
        }
        const ProcessPath memoryPath(pid, "statm");
        const auto memory = readStart(root, memoryPath.text, statm, sizeof statm);
        if (!memory) continue;  // ended between the two reads
        const auto residentPages = parseStatmResidentPages(*memory);
        if (!residentPages) {
            debug::note(memoryPath.text, "malformed");
            continue;
        }
        std::uint32_t uid = owner.st_uid;
        if (uid == 0 && !(figures.flags & PF_KTHREAD)) {
            const ProcessPath statusPath(pid, "status");
            const auto statusText = readStart(root, statusPath.text, status, sizeof status);
            if (!statusText) continue;
            uid = parseEffectiveUid(*statusText).value_or(0);
        }
        ProcessUsageSample& sample = out.emplace_back();
        sample.pid = pid;
        sample.startTime = figures.startTime;
        sample.uid = uid;
        std::memcpy(sample.comm, figures.comm.data(), figures.comm.size());
        sample.comm[figures.comm.size()] = '\0';
        sample.cpuNanoseconds = (figures.userTicks + figures.systemTicks) * nanosecondsPerTick;
        sample.residentBytes = *residentPages * page;
    }
    return true;
}

std::optional<cpu_type_t> ProcessFiles::cpuType(std::int32_t pid) {
    // Kernel threads have no executable, and another user's is not ours to open: both
    // fail here and read as no CPU type.
    const int root = files_.rootDescriptor(Fs::proc);
    const ProcessPath exe(pid, "exe");
    struct stat st {};
    if (::fstatat(root, exe.text, &st, 0) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const Identity identity{st.st_dev, st.st_ino};
    {
        std::lock_guard lock(cpuTypesMutex_);
        if (const auto it = cpuTypes_.find(identity); it != cpuTypes_.end()) return it->second;
    }
    char header[20];
    const auto start = readStart(root, exe.text, header, sizeof header);
    std::optional<cpu_type_t> type;
    if (start && start->size() == sizeof header) type = cpuTypeOfElf(*start);
    std::lock_guard lock(cpuTypesMutex_);
    cpuTypes_.emplace(identity, type);
    return type;
}

std::optional<std::string> ProcessFiles::commandLine(std::int32_t pid) {
    ReadBuffer text;
    if (!files_.readOnce(Fs::proc, std::to_string(pid) + "/cmdline", text)) return std::nullopt;
    std::string line(text.view());
    while (!line.empty() && line.back() == '\0') line.pop_back();
    if (line.empty()) return std::nullopt;
    std::replace(line.begin(), line.end(), '\0', ' ');
    return line;
}

std::optional<std::string> ProcessFiles::cgroup(std::int32_t pid) {
    ReadBuffer text;
    if (!files_.readOnce(Fs::proc, std::to_string(pid) + "/cgroup", text)) return std::nullopt;
    std::optional<std::string> v2, named, memory;
    for (const CgroupMembership& m : parseCgroupMembership(text.view(), true)) {
        if (m.v2()) {
            v2 = m.path;
        } else if (m.controllers == "name=systemd") {
            named = m.path;
        } else if (m.controllers.find("memory") != std::string::npos) {
            memory = m.path;
        }
    }
    if (v2 && (*v2 != "/" || (!named && !memory))) return v2;
    return named ? named : memory ? memory : v2;
}

int ProcessFiles::signal(std::int32_t pid, std::uint64_t startTime, int signal) {
    // The descriptor holds the process: were its pid reused after this, the start time
    // read next would be the newcomer's and differ.
    const int process = int(::syscall(SYS_pidfd_open, pid, 0));
    if (process < 0) return errno;
    char buffer[4096];
    const ProcessPath statPath(pid, "stat");
    const auto stat =
        readStart(files_.rootDescriptor(Fs::proc), statPath.text, buffer, sizeof buffer);
    ProcessStatFigures figures;
    int error = ESRCH;
    if (stat && parseProcessStatFigures(*stat, figures) && figures.startTime == startTime)
        error = ::syscall(SYS_pidfd_send_signal, process, signal, nullptr, 0) == 0 ? 0 : errno;
    ::close(process);
    return error;
}

}  // namespace quillo
