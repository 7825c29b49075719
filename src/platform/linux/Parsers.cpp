#include "platform/linux/Parsers.hpp"

#include <arpa/inet.h>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <limits>

namespace quillo {

std::string_view trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\n\r\f\v";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::optional<std::uint64_t> parseUnsigned(std::string_view field) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (field.empty() || ec != std::errc{} || end != field.data() + field.size())
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> parseSigned(std::string_view field) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (field.empty() || ec != std::errc{} || end != field.data() + field.size())
        return std::nullopt;
    return value;
}

std::optional<double> parseDecimal(std::string_view field) {
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(field.data(), field.data() + field.size(), value, std::chars_format::fixed);
    if (field.empty() || ec != std::errc{} || end != field.data() + field.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

namespace {

// The first N fields of a line into out; returns how many there were, at most N.
template <std::size_t N>
int leadingFields(std::string_view line, std::string_view (&out)[N]) {
    int n = 0;
    forEachField(line, [&](std::string_view field) {
        out[n++] = field;
        return n < int(N);
    });
    return n;
}

// The aggregate line: user nice system idle iowait irq softirq steal guest guest_nice.
// Guest time is already part of user and nice, so it is not added again.
std::optional<host_cpu_load_info> parseCpuLine(std::string_view rest) {
    std::uint64_t v[8] = {};
    int n = 0;
    bool numeric = true;
    forEachField(rest, [&](std::string_view field) {
        if (n == 8) return false;
        const auto value = parseUnsigned(field);
        if (!value) return numeric = false;
        v[n++] = *value;
        return true;
    });
    // Kernels before 2.6 wrote only the first four columns; fewer than that is damage.
    if (!numeric || n < 4) return std::nullopt;
    const auto wrap = [](std::uint64_t ticks) { return static_cast<std::uint32_t>(ticks); };
    host_cpu_load_info info;
    info.cpu_ticks[CPU_STATE_USER] = wrap(v[0]);
    info.cpu_ticks[CPU_STATE_NICE] = wrap(v[1]);
    info.cpu_ticks[CPU_STATE_SYSTEM] = wrap(v[2] + v[5] + v[6] + v[7]);
    info.cpu_ticks[CPU_STATE_IDLE] = wrap(v[3] + v[4]);
    return info;
}

}  // namespace

ProcStat parseProcStat(std::string_view text) {
    ProcStat stat;
    // The kernel writes each of these lines once; should one come twice, the first
    // counts, as it does for the readers that look no further.
    bool aggregateSeen = false;
    bool bootTimeSeen = false;
    forEachLine(text, [&](std::string_view line) {
        if (line.starts_with("cpu ")) {
            if (!aggregateSeen) stat.cpu = parseCpuLine(line.substr(4));
            aggregateSeen = true;
        } else if (line.starts_with("cpu")) {
            const auto end = line.find(' ');
            if (const auto n = parseUnsigned(line.substr(3, end == line.npos ? 0 : end - 3));
                n && *n < 1u << 20) {
                stat.cpus.push_back(int(*n));
            }
        } else if (line.starts_with("btime ") && !bootTimeSeen) {
            stat.bootTime = parseSigned(trim(line.substr(6)));
            bootTimeSeen = true;
        }
        return true;
    });
    return stat;
}

std::optional<host_cpu_load_info> parseProcStatCpu(std::string_view text) {
    if (!text.starts_with("cpu ")) return parseProcStat(text).cpu;
    const std::string_view line = text.substr(0, text.find('\n'));
    return parseCpuLine(line.substr(4));
}

std::optional<std::int64_t> parseProcStatBootTime(std::string_view text) {
    std::size_t start = 0;
    if (!text.starts_with("btime ")) {
        const std::size_t newline = text.find("\nbtime ");
        if (newline == std::string_view::npos) return std::nullopt;
        start = newline + 1;
    }
    std::string_view line = text.substr(start);
    line = line.substr(0, line.find('\n'));
    return parseSigned(trim(line.substr(6)));
}

std::optional<std::uint64_t> parseMemTotal(std::string_view text) {
    std::optional<std::uint64_t> total;
    forEachLine(text, [&](std::string_view line) {
        if (!line.starts_with("MemTotal:")) return true;
        std::string_view value = trim(line.substr(9));
        if (value.ends_with(" kB")) value = trim(value.substr(0, value.size() - 3));
        total = parseUnsigned(value);
        return false;
    });
    return total;
}

MemInfo parseMemInfo(std::string_view text) {
    MemInfo info;
    const struct {
        std::string_view key;
        std::optional<std::uint64_t> MemInfo::*field;
    } fields[] = {{"MemTotal", &MemInfo::memTotal},
                  {"MemFree", &MemInfo::memFree},
                  {"Active", &MemInfo::active},
                  {"Inactive", &MemInfo::inactive},
                  {"Unevictable", &MemInfo::unevictable},
                  {"SUnreclaim", &MemInfo::sUnreclaim},
                  {"KernelStack", &MemInfo::kernelStack},
                  {"PageTables", &MemInfo::pageTables},
                  {"Zswap", &MemInfo::zswap}};
    forEachLine(text, [&](std::string_view line) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) return true;
        const std::string_view key = line.substr(0, colon);
        for (const auto& f : fields) {
            if (f.key != key) continue;
            std::string_view value = trim(line.substr(colon + 1));
            if (value.ends_with(" kB")) value = trim(value.substr(0, value.size() - 3));
            info.*f.field = parseUnsigned(value);
        }
        return true;
    });
    return info;
}

vm_statistics64 vmStatisticsFrom(const MemInfo& info, std::uint64_t pageSize) {
    const auto pages = [&](std::initializer_list<std::optional<std::uint64_t>> kilobytes) {
        if (pageSize == 0) return std::uint32_t{0};
        std::uint64_t bytes = 0;
        for (const auto& kb : kilobytes) {
            const std::uint64_t part = kb.value_or(0);
            // Saturate rather than wrap: a wrapped page count would read as little memory.
            if (part > std::numeric_limits<std::uint64_t>::max() / 1024) return UINT32_MAX;
            bytes = std::min(bytes + part * 1024, std::numeric_limits<std::uint64_t>::max() / 2);
        }
        return std::uint32_t(std::min<std::uint64_t>(bytes / pageSize, UINT32_MAX));
    };
    vm_statistics64 vm;
    vm.free_count = pages({info.memFree});
    vm.active_count = pages({info.active});
    vm.inactive_count = pages({info.inactive});
    vm.wire_count = pages({info.unevictable, info.sUnreclaim, info.kernelStack, info.pageTables});
    vm.compressor_page_count = pages({info.zswap});
    return vm;
}

LoadAvg parseLoadAvg(std::string_view text) {
    LoadAvg load;
    int index = 0;
    bool averagesIntact = true;
    forEachField(trim(text), [&](std::string_view field) {
        if (index < 3) {
            const auto value = parseDecimal(field);
            if (value && averagesIntact) {
                load.averages[index] = *value;
                load.count = index + 1;
            } else {
                averagesIntact = false;
            }
        } else if (index == 3) {
            const auto slash = field.find('/');
            if (slash != std::string_view::npos)
                load.threads = parseSigned(field.substr(slash + 1));
            return false;
        }
        ++index;
        return true;
    });
    return load;
}

host_load_info hostLoadFrom(const LoadAvg& load, int onlineCpus) {
    host_load_info info;
    const double n = onlineCpus;
    for (int i = 0; i < 3; ++i) {
        const double l = load.averages[i];
        info.avenrun[i] = std::int32_t(std::lround(std::clamp(l * LOAD_SCALE, -2e9, 2e9)));
        // The Mach factor: the share of the CPUs left to a newcomer, in CPUs.
        const double factor = n > l ? (n - l) : n / (l + 1.0);
        info.mach_factor[i] = std::int32_t(std::lround(std::clamp(factor * LOAD_SCALE, -2e9, 2e9)));
    }
    return info;
}

std::optional<std::vector<int>> parseCpuList(std::string_view text) {
    text = trim(text);
    if (text.empty()) return std::nullopt;
    std::vector<int> cpus;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view range = text.substr(0, comma);
        const auto dash = range.find('-');
        const auto first = parseUnsigned(range.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : parseUnsigned(range.substr(dash + 1));
        // A CPU number above a million is damage, not a machine.
        if (!first || !last || *last < *first || *last >= (1u << 20)) return std::nullopt;
        for (auto c = *first; c <= *last; ++c) cpus.push_back(int(c));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return cpus;
}

std::optional<double> parseCgroupCpuMax(std::string_view text) {
    std::string_view fields[2];
    int n = 0;
    forEachField(trim(text), [&](std::string_view field) {
        if (n < 2) fields[n] = field;
        return ++n <= 2;
    });
    if (n != 2) return std::nullopt;
    const auto quota = parseUnsigned(fields[0]);
    const auto period = parseUnsigned(fields[1]);
    if (!quota || !period || *period == 0) return std::nullopt;
    return double(*quota) / double(*period);
}

std::optional<std::string_view> parseCgroupV2Path(std::string_view text) {
    std::optional<std::string_view> path;
    forEachLine(text, [&](std::string_view line) {
        if (line.starts_with("0::/")) {
            path = line.substr(3);
            return false;
        }
        return true;
    });
    return path;
}

std::uint32_t thermalLevelOfZone(std::int64_t temperature, const std::vector<ThermalTrip>& trips) {
    std::uint32_t level = kIOPMThermalLevelNormal;
    for (const ThermalTrip& trip : trips) {
        if (trip.temperature <= 0 || temperature < trip.temperature) continue;
        if (trip.type == "critical" || trip.type == "hot") {
            level = std::max(level, kIOPMThermalLevelCritical);
        } else if (trip.type == "passive") {
            level = std::max(level, kIOPMThermalLevelDanger);
        }
    }
    return level;
}

bool parseNetDevLine(std::string_view line, std::string_view& name, std::uint64_t& received,
                     std::uint64_t& sent) {
    // The name ends at the last colon: "eth0:68210035552" has no space after it, and a
    // colon inside a name (an old alias such as "ibr10:30") belongs to the name.
    const std::size_t colon = line.rfind(':');
    if (colon == std::string_view::npos) return false;
    name = trim(line.substr(0, colon));
    if (name.empty()) return false;
    // Eight receive columns, then eight transmit columns; bytes come first in each.
    std::uint64_t fields[9] = {};
    int n = 0;
    bool numeric = true;
    forEachField(line.substr(colon + 1), [&](std::string_view field) {
        const auto value = parseUnsigned(field);
        if (!value) return numeric = false;
        fields[n++] = *value;
        return n < 9;
    });
    if (!numeric || n < 9) return false;
    received = fields[0];
    sent = fields[8];
    return true;
}

namespace {

constexpr std::uint64_t RTF_UP = 0x0001;
constexpr std::uint64_t RTF_REJECT = 0x0200;

std::optional<std::uint64_t> parseHex(std::string_view field, std::size_t digits) {
    if (field.size() != digits) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value, 16);
    if (ec != std::errc{} || end != field.data() + field.size()) return std::nullopt;
    return value;
}

void consider(std::optional<DefaultRoute>& best, DefaultRoute candidate) {
    if (!best || candidate.metric < best->metric) best = std::move(candidate);
}

}  // namespace

std::optional<DefaultRoute> parseIPv4DefaultRoute(std::string_view netRoute) {
    std::optional<DefaultRoute> best;
    forEachLine(netRoute, [&](std::string_view line) {
        std::string_view f[8];
        if (leadingFields(line, f) < 8) return true;
        const auto destination = parseHex(f[1], 8);
        const auto gateway = parseHex(f[2], 8);
        const auto flags = parseHex(f[3], 4);
        const auto metric = parseUnsigned(f[6]);
        const auto mask = parseHex(f[7], 8);
        if (!destination || !gateway || !flags || !metric || !mask) return true;
        if (*destination != 0 || *mask != 0 || !(*flags & RTF_UP) || (*flags & RTF_REJECT) ||
            f[0] == "lo") {
            return true;
        }
        DefaultRoute route{std::string(f[0]), {}, *metric};
        if (*gateway != 0) {
            // The kernel prints the address as the u32 it stores, in the byte order of a
            // little-endian machine: the lowest byte is the first octet.
            const std::uint32_t g = std::uint32_t(*gateway);
            char text[INET_ADDRSTRLEN];
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", g & 0xff, (g >> 8) & 0xff,
                          (g >> 16) & 0xff, g >> 24);
            route.gateway = text;
        }
        consider(best, std::move(route));
        return true;
    });
    return best;
}

std::optional<DefaultRoute> parseIPv6DefaultRoute(std::string_view ipv6Route) {
    std::optional<DefaultRoute> best;
    forEachLine(ipv6Route, [&](std::string_view line) {
        std::string_view f[10];
        if (leadingFields(line, f) < 10) return true;
        const auto prefix = parseHex(f[1], 2);
        const auto metric = parseHex(f[5], 8);
        const auto flags = parseHex(f[8], 8);
        if (f[0].size() != 32 || f[4].size() != 32 || !prefix || !metric || !flags) return true;
        unsigned char destination[16], hop[16];
        for (std::size_t i = 0; i < 16; ++i) {
            const auto d = parseHex(f[0].substr(2 * i, 2), 2);
            const auto h = parseHex(f[4].substr(2 * i, 2), 2);
            if (!d || !h) return true;
            destination[i] = static_cast<unsigned char>(*d);
            hop[i] = static_cast<unsigned char>(*h);
        }
        const auto zero = [](const unsigned char* a) {
            for (int i = 0; i < 16; ++i) {
                if (a[i] != 0) return false;
            }
            return true;
        };
        if (!zero(destination) || *prefix != 0 || !(*flags & RTF_UP) || (*flags & RTF_REJECT) ||
            f[9] == "lo") {
            return true;
        }
        DefaultRoute route{std::string(f[9]), {}, *metric};
        if (!zero(hop)) {
            char text[INET6_ADDRSTRLEN];
            if (::inet_ntop(AF_INET6, hop, text, sizeof text)) route.gateway = text;
        }
        consider(best, std::move(route));
        return true;
    });
    return best;
}

bool parseProcessStat(std::string_view text, kinfo_proc& info) {
    const std::size_t open = text.find('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    const std::string_view comm =
        text.substr(open + 1, std::min<std::size_t>(close - open - 1, MAXCOMLEN));
    // state ppid pgrp session tty_nr tpgid flags
    std::string_view fields[7];
    const int n = leadingFields(text.substr(close + 1), fields);
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

std::optional<std::uint32_t> parseEffectiveUid(std::string_view text) {
    std::optional<std::uint32_t> uid;
    forEachLine(text, [&](std::string_view line) {
        if (!line.starts_with("Uid:")) return true;
        int n = 0;
        forEachField(line.substr(4), [&](std::string_view field) {
            if (++n < 2) return true;
            const auto value = parseUnsigned(field);
            if (value && *value <= UINT32_MAX) uid = std::uint32_t(*value);
            return false;
        });
        return false;
    });
    return uid;
}

std::optional<cpu_type_t> cpuTypeOfElf(std::string_view h) {
    if (h.size() < 20 || h.substr(0, 4) !=
                             "\x7f"
                             "ELF")
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

}  // namespace quillo
