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
    void gauge(const char* name, const char* help, std::optional<double> value,
               const char* type = "gauge") {
        if (!value || !std::isfinite(*value)) return;
        family(name, type, help);
        sample(name, {}, *value);
    }
    void counter(const char* name, const char* help, std::optional<std::uint64_t> value) {
        if (value) gauge(name, help, double(*value), "counter");
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

void writeCpu(Families& f, const Sample::Cpu& cpu) {
    if (!cpu.cores.empty()) {
        const double hertz = double(clockTicksPerSecond());
        f.family("quillo_cpu_seconds_total", "counter",
                 "Seconds each logical CPU spent in each mode.");
        for (const Sample::Core& core : cpu.cores) {
            const CpuTimes& t = core.times;
            const std::pair<const char*, std::uint64_t> modes[] = {
                {"user", t.user},     {"nice", t.nice}, {"system", t.system},   {"idle", t.idle},
                {"iowait", t.iowait}, {"irq", t.irq},   {"softirq", t.softirq}, {"steal", t.steal}};
            const std::string number = std::to_string(core.cpu);
            for (const auto& [mode, ticks] : modes)
                f.sample("quillo_cpu_seconds_total", {{"cpu", number}, {"mode", mode}},
                         double(ticks) / hertz);
        }
    }
    f.gauge("quillo_cpu_usage_ratio", "Share of the CPUs' time in use, as the panel shows it.",
            cpu.usedRatio);
    if (cpu.logical) {
        f.family("quillo_cpus", "gauge", "Online CPUs: logical ones, and physical cores.");
        f.sample("quillo_cpus", {{"kind", "logical"}}, *cpu.logical);
        if (cpu.physical) f.sample("quillo_cpus", {{"kind", "physical"}}, *cpu.physical);
    }
}

void writeMemory(Families& f, const Sample::Memory& m) {
    f.gauge("quillo_memory_total_bytes", "Installed memory.", double(m.totalBytes));
    f.family("quillo_memory_bytes", "gauge", "Memory by state; together the installed memory.");
    const std::pair<const char*, std::uint64_t> states[] = {{"free", m.parts.free},
                                                            {"active", m.parts.active},
                                                            {"inactive", m.parts.inactive},
                                                            {"wired", m.parts.wired},
                                                            {"compressed", m.parts.compressed}};
    for (const auto& [state, kilobytes] : states)
        f.sample("quillo_memory_bytes", {{"state", state}}, double(kilobytes) * 1024.0);
    if (m.totalBytes > 0)
        f.gauge("quillo_memory_used_ratio",
                "Share of memory in use: all but what MemAvailable counts, as free has it.",
                m.usedRatio);
}

void writeSwap(Families& f, const Sample::Swap& swap) {
    f.gauge("quillo_swap_total_bytes", "Swap space; 0 without swap.", double(swap.totalBytes));
    f.gauge("quillo_swap_used_bytes", "Swap space in use.", double(swap.usedBytes));
    f.counter("quillo_swap_in_pages_total", "Pages swapped in since boot.", swap.pagesIn);
    f.counter("quillo_swap_out_pages_total", "Pages swapped out since boot.", swap.pagesOut);
}

void writePressure(Families& f, const std::vector<SamplePressure>& pressure) {
    if (pressure.empty()) return;
    // Walks every resource's lines in the kernel's order, some before full.
    const auto each = [&](const auto& write) {
        for (const SamplePressure& p : pressure) {
            for (const auto& [kind, line] :
                 {std::pair{"some", &p.stall.some}, {"full", &p.stall.full}})
                if (*line) write(std::string(p.resource), kind, **line);
        }
    };
    f.family("quillo_pressure_waiting_seconds_total", "counter",
             "Time tasks stalled waiting for the resource: some of them, or all at once (full).");
    each([&](const std::string& resource, const char* kind, const PressureLine& line) {
        // Divided twice, as node_exporter does: one division by 1e6 rounds some totals to
        // the neighbouring double, and the two would then differ in their last digit.
        f.sample("quillo_pressure_waiting_seconds_total", {{"resource", resource}, {"kind", kind}},
                 double(line.totalMicroseconds) / 1000.0 / 1000.0);
    });
    f.family("quillo_pressure_ratio", "gauge",
             "Share of the last 10, 60 or 300 seconds that tasks stalled on the resource.");
    each([&](const std::string& resource, const char* kind, const PressureLine& line) {
        for (const auto& [window, percent] :
             {std::pair{"10s", line.avg10}, {"60s", line.avg60}, {"300s", line.avg300}})
            f.sample("quillo_pressure_ratio",
                     {{"resource", resource}, {"kind", kind}, {"window", window}}, percent / 100.0);
    });
}

void writeCgroup(Families& f, const SampleCgroup& c) {
    f.family("quillo_cgroup_info", "gauge", "The cgroup whose limits apply; always 1.");
    f.sample("quillo_cgroup_info", {{"path", c.path}}, 1);
    const auto bytes = [](std::optional<std::uint64_t> v) {
        return v ? std::optional(double(*v)) : std::nullopt;
    };
    f.gauge("quillo_cgroup_memory_limit_bytes", "The cgroup's memory limit.",
            bytes(c.memoryLimitBytes));
    f.gauge("quillo_cgroup_memory_used_bytes",
            "The cgroup's memory in use: its usage less inactive file pages, as docker stats "
            "counts it.",
            bytes(c.memoryUsedBytes));
    f.gauge("quillo_cgroup_cpu_limit_cores", "The CPUs the cgroup's quota or cpuset allows.",
            c.cpuLimitCores);
    f.gauge("quillo_cgroup_cpu_seconds_total", "The cgroup's CPU time.", c.cpuSeconds, "counter");
    f.counter("quillo_cgroup_cpu_throttled_periods_total",
              "Scheduler periods in which the cgroup was throttled at its quota.",
              c.throttledPeriods);
    f.gauge("quillo_cgroup_cpu_throttled_seconds_total",
            "Time the cgroup's tasks were held back by its quota.", c.throttledSeconds, "counter");
}

void writeDiskIo(Families& f, const std::vector<Sample::DiskIo>& disks) {
    if (disks.empty()) return;
    const auto family = [&](const char* name, const char* help, const auto& value) {
        f.family(name, "counter", help);
        for (const Sample::DiskIo& d : disks) f.sample(name, {{"device", d.device}}, value(d));
    };
    family("quillo_disk_read_bytes_total", "Bytes read from the device since boot.",
           [](const Sample::DiskIo& d) { return double(d.readBytes); });
    family("quillo_disk_written_bytes_total", "Bytes written to the device since boot.",
           [](const Sample::DiskIo& d) { return double(d.writtenBytes); });
    family("quillo_disk_io_seconds_total", "Time the device had I/O in flight.",
           [](const Sample::DiskIo& d) { return d.ioSeconds; });
}

void writeFileSystems(Families& f, const std::vector<Sample::FileSystem>& fileSystems) {
    if (fileSystems.empty()) return;
    const auto family = [&](const char* name, const char* help, const auto& value) {
        f.family(name, "gauge", help);
        for (const Sample::FileSystem& fs : fileSystems) {
            if (fs.space)
                f.sample(
                    name,
                    {{"mountpoint", fs.mountPoint}, {"device", fs.device}, {"fstype", fs.fsType}},
                    double(value(*fs.space)));
        }
    };
    family("quillo_filesystem_size_bytes", "Size of the file system: f_blocks times f_frsize.",
           [](const VolumeSpace& v) { return v.size; });
    family("quillo_filesystem_avail_bytes", "Space an ordinary user may still write.",
           [](const VolumeSpace& v) { return v.available; });
    family("quillo_filesystem_free_bytes", "Free space, root's reserve included.",
           [](const VolumeSpace& v) { return v.free; });
    f.family("quillo_filesystem_stale", "gauge",
             "1 where statvfs has not answered in time: the figures are its last answer.");
    for (const Sample::FileSystem& fs : fileSystems)
        f.sample("quillo_filesystem_stale", {{"mountpoint", fs.mountPoint}}, fs.stale ? 1 : 0);
}

void writeSensors(Families& f, const Sample& s) {
    for (const auto& [list, name, help] :
         {std::tuple{&s.temperatures, "quillo_hwmon_temp_celsius",
                     "A temperature sensor's reading."},
          {&s.fans, "quillo_hwmon_fan_rpm", "A fan's speed, revolutions a minute."}}) {
        if (std::none_of(list->begin(), list->end(), [](const auto& r) { return r.value; }))
            continue;
        f.family(name, "gauge", help);
        for (const SensorReading& r : *list) {
            if (r.value) f.sample(name, {{"chip", r.chip}, {"sensor", r.sensor}}, *r.value);
        }
    }
}

void writeDisk(Families& f, const Sample::Disk& disk) {
    // df's Size and Avail, and its Use%: used over what users may fill, root's reserve
    // left out, which is the panel's figure too.
    const Labels root = {{"mountpoint", "/"}};
    f.family("quillo_disk_size_bytes", "gauge", "Size of the start-up volume, as df counts it.");
    f.sample("quillo_disk_size_bytes", root, double(disk.space.size));
    f.family("quillo_disk_avail_bytes", "gauge",
             "Space on the start-up volume an ordinary user may still write.");
    f.sample("quillo_disk_avail_bytes", root, double(disk.space.available));
    if (disk.usedRatio) {
        f.family("quillo_disk_used_ratio", "gauge",
                 "Share of the start-up volume in use, as df's Use% shows it.");
        f.sample("quillo_disk_used_ratio", root, *disk.usedRatio);
    }
}

void writeNetwork(Families& f, const Sample& s) {
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
        using Counter = std::optional<std::uint64_t> Sample::Interface::*;
        for (const auto& [name, help, field] :
             {std::tuple{"quillo_network_receive_errors_total", "Receive errors of each interface.",
                         Counter(&Sample::Interface::receiveErrors)},
              {"quillo_network_transmit_errors_total", "Transmit errors of each interface.",
               Counter(&Sample::Interface::transmitErrors)},
              {"quillo_network_receive_drop_total", "Packets each interface dropped on receipt.",
               Counter(&Sample::Interface::receiveDrops)},
              {"quillo_network_transmit_drop_total", "Packets each interface dropped on sending.",
               Counter(&Sample::Interface::transmitDrops)}}) {
            const Counter member = field;  // a lambda may not capture a structured binding
            const auto has = [member](const Sample::Interface& i) {
                return (i.*member).has_value();
            };
            if (std::none_of(s.interfaces.begin(), s.interfaces.end(), has)) continue;
            f.family(name, "counter", help);
            for (const auto& i : s.interfaces) {
                if (has(i)) f.sample(name, {{"interface", i.name}}, double(*(i.*member)));
            }
        }
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
}

void writeSystem(Families& f, const Sample& s) {
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
}

void writePowerLimits(Families& f, const Sample& s) {
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
    f.gauge("quillo_cpu_speed_limit_ratio", "Highest allowed CPU frequency over the hardware's.",
            s.cpu.speedLimitRatio);
    f.gauge("quillo_cpu_scheduler_limit_ratio",
            "Share of the CPUs' time this machine's scheduler allows.", s.cpu.schedulerLimitRatio);
}

// Per battery, each figure only where the battery publishes it.
void writeBatteries(Families& f, const std::vector<Sample::Battery>& batteries) {
    using Figure = std::optional<double> Sample::Battery::*;
    using Flag = std::optional<bool> Sample::Battery::*;
    const auto figure = [&](const char* name, const char* help, auto field,
                            const char* label = "battery") {
        bool declared = false;
        for (const Sample::Battery& b : batteries) {
            const auto value = b.*field;
            if (!value) continue;
            if (!declared) f.family(name, "gauge", help);
            declared = true;
            f.sample(name, {{label, b.name}}, double(*value));
        }
    };
    figure("quillo_battery_charge_ratio", "Charge over full capacity.",
           Figure(&Sample::Battery::chargeRatio));
    figure("quillo_battery_health_ratio", "Full capacity over the design capacity.",
           Figure(&Sample::Battery::healthRatio));
    figure("quillo_battery_cycles", "Charge cycles.", Figure(&Sample::Battery::cycles));
    figure("quillo_battery_temperature_celsius", "Temperature.",
           Figure(&Sample::Battery::temperatureCelsius));
    figure("quillo_battery_time_remaining_seconds",
           "Time to empty while discharging, to full while charging.",
           Figure(&Sample::Battery::timeRemainingSeconds));
    figure("quillo_battery_power_watts", "Power the battery gives or takes now.",
           Figure(&Sample::Battery::powerWatts));
    // The same draw per power supply, as node_exporter's power_supply class names it.
    figure("quillo_power_supply_power_watts", "Power the supply gives or takes now.",
           Figure(&Sample::Battery::powerWatts), "supply");
    figure("quillo_battery_charging", "1 while the battery charges.",
           Flag(&Sample::Battery::charging));
    figure("quillo_battery_external_power", "1 while the machine runs on external power.",
           Flag(&Sample::Battery::externalPower));
}

// What each panel row shows, so that a fleet sees what each panel would.
void writeLevels(Families& f, const Sample& s) {
    std::vector<std::pair<const char*, double>> levels;
    const auto usage = [&](const char* row, std::optional<double> ratio) {
        if (ratio) levels.emplace_back(row, levelNumber(usageColorLevel(*ratio * 100.0)));
    };
    usage("cpu", s.cpu.usedRatio);
    usage("memory",
          s.memory && s.memory->totalBytes > 0 ? std::optional(s.memory->usedRatio) : std::nullopt);
    usage("disk", s.disk ? s.disk->usedRatio : std::nullopt);
    if (!s.batteries.empty() && s.batteries.front().chargePercent)
        levels.emplace_back(
            "battery",
            levelNumber(batteryColorLevel(std::floor(*s.batteries.front().chargePercent))));
    if (levels.empty()) return;
    f.family("quillo_level", "gauge", "Each panel row's level: 0 normal, 1 warning, 2 critical.");
    for (const auto& [row, level] : levels) f.sample("quillo_level", {{"row", row}}, level);
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

std::string exposition(const Sample& s, ExpositionFormat format) {
    Families f(format);
    f.family("quillo_build_info", "gauge", "Quillo's version; always 1.");
    f.sample("quillo_build_info", {{"version", QUILLO_VERSION}}, 1);
    writeCpu(f, s.cpu);
    if (s.memory) writeMemory(f, *s.memory);
    if (s.swap) writeSwap(f, *s.swap);
    if (s.disk) writeDisk(f, *s.disk);
    writeFileSystems(f, s.fileSystems);
    writeSensors(f, s);
    writeDiskIo(f, s.disks);
    writePressure(f, s.pressure);
    writeNetwork(f, s);
    writeSystem(f, s);
    writePowerLimits(f, s);
    writeBatteries(f, s.batteries);
    writeLevels(f, s);
    if (s.cgroup) writeCgroup(f, *s.cgroup);
    return f.finish();
}

}  // namespace quillo::cli
