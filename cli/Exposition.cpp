#include "Exposition.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "quillo/metrics/Utf8.hpp"
#include "quillo/platform/Text.hpp"
#include "quillo/platform/linux/Machine.hpp"
#include "quillo/widget/Levels.hpp"

#ifndef QUILLO_VERSION
#define QUILLO_VERSION "0"
#endif

namespace quillo::cli {

namespace {

using Labels = std::vector<std::pair<const char*, std::string>>;

// Writes families one after another: metadata first, then their samples.
class Families {
  public:
    explicit Families(ExpositionFormat format) : format_(format) {}

    // A counter's samples end in _total; OpenMetrics names the family without it.
    void family(const char* name, const char* type, const char* help) {
        std::string family = name;
        if (format_ == ExpositionFormat::openMetrics && std::strcmp(type, "counter") == 0 &&
            family.ends_with("_total")) {
            family.resize(family.size() - 6);
        }
        out_ += "# HELP " + family + " " + help + "\n# TYPE " + family + " " + type + "\n";
    }

    void sample(const char* name, const Labels& labels, double value) {
        if (!std::isfinite(value)) return;
        out_ += name;
        if (!labels.empty()) {
            out_ += '{';
            for (std::size_t i = 0; i < labels.size(); ++i) {
                if (i > 0) out_ += ',';
                out_ += labels[i].first;
                out_ += "=\"";
                escape(labels[i].second);
                out_ += '"';
            }
            out_ += '}';
        }
        char number[32];
        const auto end = std::to_chars(number, number + sizeof number, value).ptr;
        out_ += ' ';
        out_.append(number, end);
        out_ += '\n';
    }

    // A family of one sample, written only when there is a value.
    void gauge(const char* name, const char* help, std::optional<double> value) {
        if (!value || !std::isfinite(*value)) return;
        family(name, "gauge", help);
        sample(name, {}, *value);
    }

    std::string finish() {
        if (format_ == ExpositionFormat::openMetrics) out_ += "# EOF\n";
        return std::move(out_);
    }

  private:
    // Label values are UTF-8 with backslash, quote and line feed escaped. A byte that is
    // no UTF-8 is written as the text \xHH, so that names differing only there (an
    // interface named in another encoding) stay apart instead of becoming one label set.
    void escape(std::string_view raw) {
        for (std::size_t i = 0; i < raw.size();) {
            const CodePoint c = codePointAt(raw, i);
            if (c.length == 0) {
                for (std::size_t end = i + c.invalidLength; i < end; ++i) {
                    static constexpr char hex[] = "0123456789abcdef";
                    const auto byte = static_cast<unsigned char>(raw[i]);
                    ((out_ += "\\\\x") += hex[byte >> 4]) += hex[byte & 15];
                }
                continue;
            }
            const char first = raw[i];
            if (first == '\\' || first == '"') {
                out_ += '\\';
                out_ += first;
            } else if (first == '\n') {
                out_ += "\\n";
            } else {
                out_.append(raw.substr(i, c.length));
            }
            i += c.length;
        }
    }

    ExpositionFormat format_;
    std::string out_;
};

double levelNumber(ColorLevel level) {
    return level == ColorLevel::critical ? 2 : level == ColorLevel::warning ? 1 : 0;
}

std::optional<double> number(const std::optional<PropertyValue>& v) {
    if (!v) return std::nullopt;
    if (const auto* i = std::get_if<std::int64_t>(&*v)) return double(*i);
    if (const auto* d = std::get_if<double>(&*v)) return *d;
    if (const auto* b = std::get_if<bool>(&*v)) return *b ? 1.0 : 0.0;
    return std::nullopt;
}

// The battery's charge and full capacity, when it publishes both and the full one is real.
std::optional<std::pair<double, double>> chargeAndFull(const PowerSupplySnapshot& b) {
    const auto now = number(batteryProperty("CurrentCapacity", b));
    const auto full = number(batteryProperty("MaxCapacity", b));
    if (!now || !full || *full <= 0) return std::nullopt;
    return std::pair{*now, *full};
}

}  // namespace

const char* contentType(ExpositionFormat format) {
    return format == ExpositionFormat::openMetrics
               ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
               : "text/plain; version=0.0.4; charset=utf-8";
}

ExpositionFormat negotiate(const char* accept) {
    if (!accept) return ExpositionFormat::text;
    // The highest quality each format is given; OpenMetrics only where named.
    double openMetrics = -1, text = -1;
    for (std::string_view rest = accept; !rest.empty();) {
        const std::size_t comma = rest.find(',');
        std::string_view range = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        double quality = 1;
        const std::size_t semicolon = range.find(';');
        for (std::string_view params = range.substr(std::min(semicolon, range.size()));
             !params.empty();) {
            params.remove_prefix(1);  // the semicolon
            const std::size_t next = params.find(';');
            const std::string_view param = trim(params.substr(0, next));
            params = next == std::string_view::npos ? std::string_view() : params.substr(next);
            if (param.size() > 2 && (param[0] == 'q' || param[0] == 'Q') && param[1] == '=') {
                double q = 0;
                const auto [end, ec] =
                    std::from_chars(param.data() + 2, param.data() + param.size(), q);
                quality = ec == std::errc{} && end == param.data() + param.size() ? q : 0;
            }
        }
        std::string type(trim(range.substr(0, semicolon)));
        for (char& c : type) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (type == "application/openmetrics-text") {
            openMetrics = std::max(openMetrics, quality);
        } else if (type == "text/plain" || type == "text/*" || type == "*/*") {
            text = std::max(text, quality);
        }
    }
    return openMetrics > 0 && openMetrics >= text ? ExpositionFormat::openMetrics
                                                  : ExpositionFormat::text;
}

std::optional<double> cpuBusyRatio(const CpuTimes& before, const CpuTimes& after) {
    // The panel's figure: everything but idle and I/O wait, over the interval.
    const auto busy = [](const CpuTimes& c) {
        return double(c.user + c.nice + c.system + c.irq + c.softirq + c.steal);
    };
    const double work = busy(after) - busy(before);
    const double rest = double(after.idle + after.iowait) - double(before.idle + before.iowait);
    if (work < 0 || rest < 0 || work + rest <= 0) return std::nullopt;
    return work / (work + rest);
}

std::string exposition(const HostSnapshot& s, std::optional<double> cpuRatio,
                       ExpositionFormat format) {
    Families f(format);
    f.family("quillo_build_info", "gauge", "Quillo's version; always 1.");
    f.sample("quillo_build_info", {{"version", QUILLO_VERSION}}, 1);

    std::optional<double> cpuPercent;
    if (s.cpu) {
        const double hertz = double(clockTicksPerSecond());
        const CpuTimes& t = *s.cpu;
        f.family("quillo_cpu_seconds_total", "counter", "Seconds the CPUs spent in each mode.");
        const std::pair<const char*, std::uint64_t> modes[] = {
            {"user", t.user},     {"nice", t.nice}, {"system", t.system},   {"idle", t.idle},
            {"iowait", t.iowait}, {"irq", t.irq},   {"softirq", t.softirq}, {"steal", t.steal}};
        for (const auto& [mode, ticks] : modes)
            f.sample("quillo_cpu_seconds_total", {{"mode", mode}}, double(ticks) / hertz);
    }
    if (cpuRatio) {
        f.gauge("quillo_cpu_usage_ratio", "Share of the CPUs' time in use, as the panel shows it.",
                *cpuRatio);
        cpuPercent = 100.0 * *cpuRatio;
    }
    if (s.logicalCpus > 0) {
        f.family("quillo_cpus", "gauge", "Online CPUs: logical ones, and physical cores.");
        f.sample("quillo_cpus", {{"kind", "logical"}}, s.logicalCpus);
        if (s.physicalCpus > 0) f.sample("quillo_cpus", {{"kind", "physical"}}, s.physicalCpus);
    }

    std::optional<double> memoryPercent;
    if (const auto parts = memoryPartsFrom(s.memory)) {
        const double total = double(*s.memory.memTotal) * 1024.0;
        f.gauge("quillo_memory_total_bytes", "Installed memory.", total);
        f.family("quillo_memory_bytes", "gauge", "Memory by state; together the installed memory.");
        const std::pair<const char*, std::uint64_t> states[] = {{"free", parts->free},
                                                                {"active", parts->active},
                                                                {"inactive", parts->inactive},
                                                                {"wired", parts->wired},
                                                                {"compressed", parts->compressed}};
        for (const auto& [state, kilobytes] : states)
            f.sample("quillo_memory_bytes", {{"state", state}}, double(kilobytes) * 1024.0);
        if (total > 0) {
            memoryPercent =
                100.0 * double(parts->active + parts->wired + parts->compressed) * 1024.0 / total;
            f.gauge("quillo_memory_used_ratio",
                    "Share of memory in use: all but what MemAvailable counts, as free has it.",
                    *memoryPercent / 100.0);
        }
    }

    std::optional<double> diskPercent;
    if (s.root) {
        // df's Size and Avail, and its Use%: used over what users may fill, root's reserve
        // left out, which is the panel's figure too.
        const Labels root = {{"mountpoint", "/"}};
        f.family("quillo_disk_size_bytes", "gauge",
                 "Size of the start-up volume, as df counts it.");
        f.sample("quillo_disk_size_bytes", root, double(s.root->size));
        f.family("quillo_disk_avail_bytes", "gauge",
                 "Space on the start-up volume an ordinary user may still write.");
        f.sample("quillo_disk_avail_bytes", root, double(s.root->available));
        // The panel's row, from the same df figures.
        if (const FileSystemAttributes df = dfAttributes(*s.root); df.size > 0) {
            diskPercent = double(df.size - df.freeSize) * 100.0 / double(df.size);
            f.family("quillo_disk_used_ratio", "gauge",
                     "Share of the start-up volume in use, as df's Use% shows it.");
            f.sample("quillo_disk_used_ratio", root, *diskPercent / 100.0);
        }
    }

    if (!s.interfaces.empty()) {
        f.family("quillo_network_receive_bytes_total", "counter",
                 "Bytes received by each interface.");
        for (const auto& i : s.interfaces)
            f.sample("quillo_network_receive_bytes_total", {{"interface", i.name}},
                     double(i.received));
        f.family("quillo_network_transmit_bytes_total", "counter", "Bytes sent by each interface.");
        for (const auto& i : s.interfaces)
            f.sample("quillo_network_transmit_bytes_total", {{"interface", i.name}},
                     double(i.sent));
    }
    if (s.ipv4 || s.ipv6) {
        f.family("quillo_network_primary_info", "gauge",
                 "The interface and router of each family's default route; always 1.");
        for (const auto& [family, route] : {std::pair{"ipv4", &s.ipv4}, {"ipv6", &s.ipv6}}) {
            if (*route)
                f.sample("quillo_network_primary_info",
                         {{"family", family},
                          {"interface", (*route)->interface},
                          {"router", (*route)->gateway}},
                         1);
        }
    }

    if (s.load) {
        f.gauge("quillo_load1", "Load average over 1 minute.", s.load->averages[0]);
        f.gauge("quillo_load5", "Load average over 5 minutes.", s.load->averages[1]);
        f.gauge("quillo_load15", "Load average over 15 minutes.", s.load->averages[2]);
        if (s.load->threads)
            f.gauge("quillo_threads", "Threads of every process.", double(*s.load->threads));
    }
    if (s.bootTime)
        f.gauge("quillo_boot_time_seconds", "When the machine started, in seconds since the epoch.",
                double(*s.bootTime));
    if (s.processes) f.gauge("quillo_processes", "Processes.", double(*s.processes));

    if (s.thermalLevel) {
        const std::pair<const char*, std::uint32_t> levels[] = {
            {"normal", kIOPMThermalLevelNormal},
            {"danger", kIOPMThermalLevelDanger},
            {"crisis", kIOPMThermalLevelCritical}};
        f.family("quillo_thermal_level", "gauge",
                 "The thermal warning level: 1 for the current one.");
        for (const auto& [name, level] : levels)
            f.sample("quillo_thermal_level", {{"level", name}}, *s.thermalLevel == level ? 1 : 0);
    }
    if (s.speedLimitPercent)
        f.gauge("quillo_cpu_speed_limit_ratio",
                "Highest allowed CPU frequency over the hardware's.", *s.speedLimitPercent / 100.0);
    f.gauge("quillo_cpu_scheduler_limit_ratio",
            "Share of the CPUs' time this machine's scheduler allows.",
            s.schedulerLimitPercent / 100.0);

    // Per battery, each figure only where the battery publishes it.
    struct BatteryFigure {
        const char* name;
        const char* help;
        std::optional<double> (*value)(const PowerSupplySnapshot&);
    };
    static const BatteryFigure figures[] = {
        {"quillo_battery_charge_ratio", "Charge over full capacity.",
         [](const PowerSupplySnapshot& b) -> std::optional<double> {
             const auto charge = chargeAndFull(b);
             if (!charge) return std::nullopt;
             return charge->first / charge->second;
         }},
        {"quillo_battery_health_ratio", "Full capacity over the design capacity.",
         [](const PowerSupplySnapshot& b) -> std::optional<double> {
             const auto full = number(batteryProperty("MaxCapacity", b));
             const auto design = number(batteryProperty("DesignCapacity", b));
             if (!full || !design || *design <= 0) return std::nullopt;
             return *full / *design;
         }},
        {"quillo_battery_cycles", "Charge cycles.",
         [](const PowerSupplySnapshot& b) { return number(batteryProperty("CycleCount", b)); }},
        {"quillo_battery_temperature_celsius", "Temperature.",
         [](const PowerSupplySnapshot& b) -> std::optional<double> {
             if (!b.temp) return std::nullopt;
             return double(*b.temp) / 10.0;
         }},
        {"quillo_battery_time_remaining_seconds",
         "Time to empty while discharging, to full while charging.",
         [](const PowerSupplySnapshot& b) -> std::optional<double> {
             const auto minutes = number(batteryProperty("TimeRemaining", b));
             if (!minutes) return std::nullopt;
             return *minutes * 60.0;
         }},
        {"quillo_battery_power_watts", "Power the battery gives or takes now.",
         [](const PowerSupplySnapshot& b) -> std::optional<double> {
             if (b.powerNow) return std::fabs(double(*b.powerNow)) / 1e6;
             if (b.currentNow && b.voltageNow)
                 return std::fabs(double(*b.currentNow) * double(*b.voltageNow)) / 1e12;
             return std::nullopt;
         }},
        {"quillo_battery_charging", "1 while the battery charges.",
         [](const PowerSupplySnapshot& b) { return number(batteryProperty("IsCharging", b)); }},
        {"quillo_battery_external_power", "1 while the machine runs on external power.",
         [](const PowerSupplySnapshot& b) {
             return number(batteryProperty("ExternalConnected", b));
         }},
    };
    for (const BatteryFigure& figure : figures) {
        bool declared = false;
        for (const PowerSupplySnapshot& b : s.batteries) {
            const auto value = figure.value(b);
            if (!value || !std::isfinite(*value)) continue;
            if (!declared) f.family(figure.name, "gauge", figure.help);
            declared = true;
            f.sample(figure.name, {{"battery", b.name}}, *value);
        }
    }

    // What each panel row shows, so that a fleet sees what each panel would.
    std::vector<std::pair<const char*, double>> levels;
    if (cpuPercent) levels.emplace_back("cpu", levelNumber(usageColorLevel(*cpuPercent)));
    if (memoryPercent) levels.emplace_back("memory", levelNumber(usageColorLevel(*memoryPercent)));
    if (diskPercent) levels.emplace_back("disk", levelNumber(usageColorLevel(*diskPercent)));
    if (const auto charge = s.batteries.empty() ? std::nullopt : chargeAndFull(s.batteries.front()))
        levels.emplace_back(
            "battery",
            levelNumber(batteryColorLevel(std::floor(charge->first * 100.0 / charge->second))));
    if (!levels.empty()) {
        f.family("quillo_level", "gauge",
                 "Each panel row's level: 0 normal, 1 warning, 2 critical.");
        for (const auto& [row, level] : levels) f.sample("quillo_level", {{"row", row}}, level);
    }
    return f.finish();
}

}  // namespace quillo::cli
