#include "HistoryCommands.hpp"

#include <signal.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "Output.hpp"
#include "Usage.hpp"
#include "quillo/metrics/History.hpp"
#include "quillo/platform/Text.hpp"
#include "quillo/settings/Keys.hpp"
#include "quillo/widget/Format.hpp"

namespace quillo::cli {

namespace {

// "2026-12-07T21:48:37Z" in UTC for files, "2026-12-07 22:48:37" in local time for people.
std::string timeText(std::int64_t ms, bool utc) {
    return wallTimeText(ms, utc ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S", utc);
}

// As fine as the stored form resolves: whole bytes a second, hundredths of the rest.
std::string number(double v, HistoryUnit unit = HistoryUnit::percent) {
    if (!std::isfinite(v)) return "null";
    return formatC(unit == HistoryUnit::rate ? "%.0f" : "%.2f", {v});
}

std::vector<std::size_t> chosenFigures(const std::vector<std::string>& names) {
    std::vector<std::size_t> chosen;
    const auto all = historyFigures();
    if (names.empty()) {
        for (std::size_t i = 0; i < all.size(); ++i) chosen.push_back(i);
        return chosen;
    }
    std::vector<std::string_view> known;
    for (const HistoryFigure& f : all) known.push_back(f.name);
    for (const std::string& name : names) {
        const auto it = std::find(known.begin(), known.end(), name);
        if (it == known.end()) {
            std::string message = "no figure is called '" + visibleText(name) + "'";
            if (const auto near = nearestWord(name, known))
                message += "; did you mean '" + std::string(*near) + "'?";
            std::string list;
            for (const std::string_view k : known)
                list += (list.empty() ? "" : ", ") + std::string(k);
            throw UsageError(message + ". The figures are " + list + ".");
        }
        chosen.push_back(std::size_t(it - known.begin()));
    }
    return chosen;
}

// The points as OpenMetrics samples with timestamps, for promtool to make Prometheus blocks
// of. A figure the exporter serves as a gauge keeps the exporter's name, so that what a
// machine saw offline joins its live series; the others are named quillo_history_*.
std::string openMetrics(std::vector<HistoryPoint> points, const std::vector<std::size_t>& chosen) {
    struct Series {
        std::string_view figure, family, labels, unit;
        bool percent;  // stored in percent, served as a ratio
    };
    static constexpr Series series[] = {
        {"cpu", "quillo_cpu_usage_ratio", "", "", true},
        {"memory", "quillo_memory_used_ratio", "", "", true},
        {"swap", "quillo_history_swap_used_ratio", "", "", true},
        {"disk", "quillo_disk_used_ratio", "", "", true},
        {"download", "quillo_history_network_receive_bytes_per_second", "", "", false},
        {"upload", "quillo_history_network_transmit_bytes_per_second", "", "", false},
        {"load1", "quillo_load1", "", "", false},
        {"load5", "quillo_load5", "", "", false},
        {"load15", "quillo_load15", "", "", false},
        {"battery", "quillo_history_battery_charge_ratio", "", "", true},
        {"diskread", "quillo_history_disk_read_bytes_per_second", "", "", false},
        {"diskwrite", "quillo_history_disk_written_bytes_per_second", "", "", false},
        {"pressurecpu", "quillo_pressure_ratio", R"(resource="cpu",kind="some",window="10s")", "",
         true},
        {"pressurememory", "quillo_pressure_ratio", R"(resource="memory",kind="some",window="10s")",
         "", true},
        {"pressureio", "quillo_pressure_ratio", R"(resource="io",kind="some",window="10s")", "",
         true},
        {"temperature", "quillo_history_cpu_temperature_celsius", "", "celsius", false},
    };
    static_assert(std::size(series) == historyFigureCount);
    // A series' samples go in time order; a wall clock set back gives two points one
    // time, and the later point stands.
    std::stable_sort(
        points.begin(), points.end(),
        [](const HistoryPoint& a, const HistoryPoint& b) { return a.wallMs < b.wallMs; });
    std::string out;
    std::vector<std::string_view> written;
    for (const std::size_t f : chosen) {
        const Series& head = series[f];
        if (std::find(written.begin(), written.end(), head.family) != written.end()) continue;
        written.push_back(head.family);
        out += "# TYPE " + std::string(head.family) + " gauge\n";
        if (!head.unit.empty())
            out += "# UNIT " + std::string(head.family) + " " + std::string(head.unit) + "\n";
        for (const std::size_t g : chosen) {
            const Series& s = series[g];
            if (s.family != head.family) continue;
            const std::string name =
                std::string(s.family) + (s.labels.empty() ? "" : "{" + std::string(s.labels) + "}");
            for (std::size_t i = 0; i < points.size(); ++i) {
                const HistoryPoint& p = points[i];
                if (i + 1 < points.size() && points[i + 1].wallMs == p.wallMs) continue;
                const double v = p.values[g];
                if (!std::isfinite(v)) continue;
                char value[32];
                const auto end =
                    std::to_chars(value, value + sizeof value, s.percent ? v / 100.0 : v);
                out += name + " " + std::string(value, end.ptr) +
                       formatC(" %lld.%03lld\n", {p.wallMs / 1000, p.wallMs % 1000});
            }
        }
    }
    return out + "# EOF\n";
}

}  // namespace

std::int64_t parseHistoryTime(const std::string& text, std::int64_t now, bool durationAllowed) {
    const auto refuse = [&]() -> std::int64_t {
        throw UsageError("'" + visibleText(text) + "' is no " +
                         (durationAllowed ? "duration (90s, 15m, 3h, 7d) or " : "") +
                         "time (2026-12-07T03:00, with seconds, Z or an offset if need be)");
    };
    if (durationAllowed && text.size() >= 2) {
        const auto amount = parseUnsigned(std::string_view(text).substr(0, text.size() - 1));
        const char unit = text.back();
        const std::int64_t scale = unit == 's'   ? 1000
                                   : unit == 'm' ? 60'000
                                   : unit == 'h' ? 3'600'000
                                   : unit == 'd' ? 86'400'000
                                                 : 0;
        if (amount && scale && *amount <= 36'500ull * 86'400'000 / std::uint64_t(scale))
            return now - std::int64_t(*amount) * scale;
    }
    std::tm tm{};
    int offsetMinutes = 0;
    bool zoned = false;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &consumed) != 3 ||
        consumed != 10)
        return refuse();
    std::string_view rest = std::string_view(text).substr(10);
    if (!rest.empty() && (rest.front() == 'T' || rest.front() == ' ')) {
        int used = 0;
        if (std::sscanf(rest.data() + 1, "%2d:%2d%n", &tm.tm_hour, &tm.tm_min, &used) != 2 ||
            used != 5)
            return refuse();
        rest.remove_prefix(6);
        if (!rest.empty() && rest.front() == ':') {
            if (rest.size() < 3 || std::sscanf(rest.data() + 1, "%2d", &tm.tm_sec) != 1)
                return refuse();
            rest.remove_prefix(3);
        }
        if (rest == "Z") {
            zoned = true;
            rest = {};
        } else if (rest.size() == 6 && (rest[0] == '+' || rest[0] == '-') && rest[3] == ':') {
            int h = 0, m = 0;
            if (std::sscanf(rest.data() + 1, "%2d:%2d", &h, &m) != 2) return refuse();
            offsetMinutes = (rest[0] == '-' ? -1 : 1) * (h * 60 + m);
            zoned = true;
            rest = {};
        }
    }
    if (!rest.empty() || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
        tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60)
        return refuse();
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    const std::time_t seconds = zoned ? ::timegm(&tm) - offsetMinutes * 60 : std::mktime(&tm);
    return std::int64_t(seconds) * 1000;
}

CLI::App* addRecordCommand(CLI::App& app, RecordOptions& options) {
    auto* command = app.add_subcommand(
        "record", "Record the figures into the history until stopped, as the panels do");
    command->add_option("--interval", options.interval, "seconds between points")
        ->capture_default_str()
        ->check(CLI::Range(0.1, 3600.0));
    return command;
}

int runRecord(const RecordOptions& options, LinuxPlatform& platform) {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, s);
    ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    std::string why;
    auto writer = HistoryWriter::open(defaultHistoryFolder(), &why);
    if (!writer) {
        std::fprintf(stderr, "quillo: %s\n", visibleText(why).c_str());
        return 1;
    }
    if (!why.empty()) std::fprintf(stderr, "quillo: %s\n", visibleText(why).c_str());
    Recorder recorder(platform, std::move(writer));
    const auto step = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(options.interval));
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        recorder.record(wallClockMs());
        if (auto problem = recorder.writer().takeProblem())
            std::fprintf(stderr, "quillo: %s\n", problem->c_str());
        // Steps on the monotonic clock: a wall clock set back does not stop the recording.
        next += step;
        const auto wait = next - std::chrono::steady_clock::now();
        if (wait.count() <= 0) {
            next = std::chrono::steady_clock::now();
            continue;
        }
        const timespec timeout{time_t(wait.count() / 1'000'000'000),
                               long(wait.count() % 1'000'000'000)};
        if (::sigtimedwait(&stops, nullptr, &timeout) > 0) break;
    }
    recorder.writer().flush();
    return 0;
}

CLI::App* addHistoryCommand(CLI::App& app, HistoryOptions& options) {
    auto* command = app.add_subcommand(
        "history",
        "Print the recorded figures of a window of time (points a second for the "
        "last 24 hours, each minute's before)");
    command->add_option("FIGURE", options.figures, "the figures to print; all unless given");
    options.processes = command->add_subcommand(
        "processes", "Print the busiest processes of each minute of the window");
    for (CLI::App* c : {command, options.processes}) {
        c->add_option("--since", options.since,
                      "the window's start: a duration before now (90s, 15m, 3h, 7d) or an ISO "
                      "8601 time")
            ->capture_default_str();
        c->add_option("--until", options.until,
                      "the window's end, an ISO 8601 time; now unless given");
        c->add_flag("--json", options.json, "print JSON");
    }
    command->add_flag("--csv", options.csv, "print comma-separated values");
    command->add_flag("--openmetrics", options.openMetrics,
                      "print the OpenMetrics text format with timestamps, for "
                      "promtool tsdb create-blocks-from openmetrics");
    return command;
}

int runHistory(const HistoryOptions& options) {
    const std::int64_t now = wallClockMs();
    const std::int64_t from = parseHistoryTime(options.since, now, true);
    const std::int64_t to =
        options.until.empty() ? now : parseHistoryTime(options.until, now, false);
    if (int(options.json) + int(options.csv) + int(options.openMetrics) > 1)
        throw UsageError("--json, --csv and --openmetrics exclude each other");
    const std::vector<std::size_t> chosen = chosenFigures(options.figures);
    const auto figures = historyFigures();

    HistoryReader reader(defaultHistoryFolder());
    const bool processes = options.processes && options.processes->parsed();
    // Points a second where the window begins within the last day, minutes before it.
    const bool bySecond = !processes && from >= now - 86'400'000;
    std::vector<HistoryPoint> seconds;
    std::vector<HistoryMinute> minutes;
    if (bySecond) {
        seconds = reader.seconds(from, to);
    } else {
        minutes = reader.minutes(from, to);
    }
    const std::size_t count = bySecond ? seconds.size() : minutes.size();
    const auto point = [&](std::size_t i) -> const HistoryPoint& {
        return bySecond ? seconds[i] : minutes[i];
    };
    for (const std::string& problem : reader.problems())
        std::fprintf(stderr, "quillo: %s\n", visibleText(problem).c_str());

    std::string out;
    if (processes) {
        if (options.json) out += "[";
        for (const HistoryMinute& p : minutes) {
            if (options.json) {
                out += std::string(out.size() > 1 ? ",\n" : "\n") + " {\"time\": \"" +
                       timeText(p.wallMs, true) + "\", \"processes\": [";
                for (std::size_t i = 0; i < p.processes.size(); ++i) {
                    const HistoryProcess& q = p.processes[i];
                    out += std::string(i ? ", " : "") + "{\"pid\": " + std::to_string(q.pid) +
                           ", \"name\": " + jsonString(q.name) +
                           ", \"commandLine\": " + jsonString(q.commandLine) +
                           ", \"cpu\": " + number(q.cpu) + ", \"rss\": " + std::to_string(q.rss) +
                           "}";
                }
                out += "]}";
                continue;
            }
            for (const HistoryProcess& q : p.processes) {
                const std::string name = visibleText(q.name);
                out += timeText(p.wallMs, false).substr(0, 16) +
                       formatC(" %7lld %-15s %6.1f%% %8.1f MiB  ",
                               {std::int64_t(q.pid), std::string_view(name), q.cpu,
                                double(q.rss) / 1048576.0}) +
                       visibleText(q.commandLine) + "\n";
            }
        }
        if (options.json) out += minutes.empty() ? "]\n" : "\n]\n";
        writeOutput(out);
        return 0;
    }

    if (options.openMetrics) {
        out = openMetrics(
            bySecond ? seconds : std::vector<HistoryPoint>(minutes.begin(), minutes.end()), chosen);
    } else if (options.csv) {
        out += "time";
        for (const std::size_t f : chosen) out += "," + std::string(figures[f].name);
        out += "\n";
        for (std::size_t i = 0; i < count; ++i) {
            const HistoryPoint& p = point(i);
            out += timeText(p.wallMs, true);
            for (const std::size_t f : chosen)
                out += "," + (std::isfinite(p.values[f]) ? number(p.values[f], figures[f].unit)
                                                         : std::string());
            out += "\n";
        }
    } else if (options.json) {
        out += std::string("{\"resolution\": \"") + (bySecond ? "second" : "minute") +
               "\", \"points\": [";
        for (std::size_t i = 0; i < count; ++i) {
            const HistoryPoint& p = point(i);
            out += std::string(i ? "," : "") + "\n {\"time\": \"" + timeText(p.wallMs, true) +
                   "\", \"sequence\": " + std::to_string(p.sequence);
            for (const std::size_t f : chosen) {
                out += ", \"" + std::string(figures[f].name) + "\": ";
                const HistoryUnit unit = figures[f].unit;
                out += bySecond ? number(p.values[f], unit)
                                : "{\"min\": " + number(minutes[i].minima[f], unit) +
                                      ", \"mean\": " + number(p.values[f], unit) +
                                      ", \"max\": " + number(minutes[i].maxima[f], unit) + "}";
            }
            out += "}";
        }
        out += count == 0 ? "]}\n" : "\n]}\n";
    } else {
        const auto padded = [](std::string text, std::size_t width) {
            return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
        };
        const auto width = [&](std::size_t f) {
            return std::max<std::size_t>(7, figures[f].name.size());
        };
        out += "time               ";
        for (const std::size_t f : chosen)
            out += " " + padded(std::string(figures[f].name),
                                std::max<std::size_t>(
                                    width(f), figures[f].unit == HistoryUnit::rate ? 10 : 0));
        out += "\n";
        for (std::size_t i = 0; i < count; ++i) {
            const HistoryPoint& p = point(i);
            out += timeText(p.wallMs, false);
            for (const std::size_t f : chosen) {
                const bool rate = figures[f].unit == HistoryUnit::rate;
                out += " " + padded(!std::isfinite(p.values[f]) ? std::string("-")
                                    : rate ? formatRate(std::uint64_t(p.values[f]))
                                           : formatC("%.1f", {double(p.values[f])}),
                                    std::max<std::size_t>(width(f), rate ? 10 : 0));
            }
            out += "\n";
        }
    }
    writeOutput(out);
    return 0;
}

}  // namespace quillo::cli
