#include "quillo/widget/ExtraRows.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>

#include "quillo/widget/Format.hpp"
#include "quillo/widget/Levels.hpp"

namespace quillo {

namespace {

const std::vector<Sample::FileSystem> noFileSystems;
const std::vector<Sample::Interface> noInterfaces;

// The level colours, each looked up once a refresh however many bars take it: a look-up
// reads the settings file.
class Tints {
  public:
    explicit Tints(const Configuration& config) : config_(config) {}
    Color operator()(ColorLevel level) {
        std::optional<Color>& known = known_[std::size_t(level)];
        if (!known) known = levelColor(level, config_);
        return *known;
    }

  private:
    const Configuration& config_;
    std::array<std::optional<Color>, 3> known_;
};

void show(ExtraRow& row, std::optional<double> ratio, Tints& tints) {
    row.available = ratio.has_value();
    if (!ratio) {
        row.text = ExtraRows::notAvailable;
        row.bar->setCurrent(0);
        return;
    }
    const double percent = *ratio * 100.0;
    row.bar->setCurrent(percent);
    row.text = formatC("%.0f%%", {percent});
    row.bar->setTintColor(tints(usageColorLevel(percent)));
}

void showTemperatures(ExtraRow& row, const std::vector<SensorReading>& readings) {
    // The hottest plausible reading of each chip, the CPU's chips counted as one.
    std::vector<std::pair<std::string, double>> hottest;
    for (const SensorReading& r : readings) {
        if (!r.value) continue;
        const std::string name = isCpuChip(r.chipName) ? "CPU" : r.chipName;
        auto it = std::find_if(hottest.begin(), hottest.end(),
                               [&](const auto& h) { return h.first == name; });
        if (it == hottest.end()) {
            hottest.emplace_back(name, *r.value);
        } else {
            it->second = std::max(it->second, *r.value);
        }
    }
    std::stable_partition(hottest.begin(), hottest.end(),
                          [](const auto& h) { return h.first == "CPU"; });
    row.text.clear();
    for (const auto& [name, celsius] : hottest) {
        if (!row.text.empty()) row.text += "  ";
        row.text += formatC("%s %.0f \u00b0C", {std::string_view(name), celsius});
    }
    row.available = !row.text.empty();
    if (!row.available) row.text = ExtraRows::notAvailable;
}

// The rows with a sparkline, in the order of ExtraRows' sparklines, and the place of
// each one's figure in historyFigures().
constexpr std::pair<PanelRow, std::size_t> sparkRows[] = {{PanelRow::cpu, 0},
                                                          {PanelRow::memory, 1},
                                                          {PanelRow::disk, 3},
                                                          {PanelRow::swap, 2},
                                                          {PanelRow::battery, 9}};

// The sparkline of a row, where it has one.
std::optional<std::size_t> sparkIndex(PanelRow row) {
    for (std::size_t i = 0; i < std::size(sparkRows); ++i) {
        if (sparkRows[i].first == row) return i;
    }
    return std::nullopt;
}

}  // namespace

void Sparkline::add(std::int64_t wallMs, double percent) {
    if (!std::isfinite(percent)) return;
    const std::int64_t index = wallMs / cellMs;
    Cell& c = cells_[std::size_t(((index % cells) + cells) % cells)];
    if (c.index != index) c = {index, 0, 0};
    c.sum += std::clamp(percent, 0.0, 100.0);
    ++c.count;
}

std::array<double, Sparkline::cells> Sparkline::means(std::int64_t nowMs) const {
    std::array<double, cells> out;
    const std::int64_t last = nowMs / cellMs;
    for (int k = 0; k < cells; ++k) {
        const std::int64_t index = last - (cells - 1 - k);
        const Cell& c = cells_[std::size_t(((index % cells) + cells) % cells)];
        out[std::size_t(k)] = c.index == index && c.count > 0
                                  ? c.sum / c.count
                                  : std::numeric_limits<double>::quiet_NaN();
    }
    return out;
}

std::string Sparkline::text(std::int64_t nowMs, bool unicode) const {
    static constexpr const char* eighths[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                                              "\u2585", "\u2586", "\u2587", "\u2588"};
    static constexpr std::string_view ascii = "_.-=+*#@";
    std::string out;
    bool any = false;
    for (const double m : means(nowMs)) {
        if (!std::isfinite(m)) {
            out += ' ';
            continue;
        }
        any = true;
        const auto level = std::size_t(std::clamp(int(m / 100.0 * 8.0), 0, 7));
        if (unicode) {
            out += eighths[level];
        } else {
            out += ascii[level];
        }
    }
    return any ? out : std::string();
}

ExtraRows::ExtraRows(LinuxPlatform& platform, std::function<void(ProgressBar&)> prepare,
                     bool record)
    : platform_(platform), sampler_(platform), prepare_(std::move(prepare)), swap_(made()) {
    if (!record) return;
    recording_.emplace(platform);
    // The last minutes the history kept, so a panel started again shows them at once.
    if (!platform.readsTheKernel()) return;
    const std::int64_t now = wallClockMs();
    for (const HistoryPoint& p : HistoryReader(defaultHistoryFolder())
                                     .seconds(now - Sparkline::cells * Sparkline::cellMs, now)) {
        for (std::size_t i = 0; i < std::size(sparkRows); ++i)
            sparklines_[i].add(p.wallMs, p.values[sparkRows[i].second]);
    }
}

std::optional<std::size_t> historyFigureOf(PanelRow row) {
    const auto i = sparkIndex(row);
    return i ? std::optional(sparkRows[*i].second) : std::nullopt;
}

std::string ExtraRows::limitMark(PanelRow row) const {
    if (!platform_.cgroupView()) return {};
    CgroupFiles& cgroup = platform_.cgroup();
    if (row == PanelRow::memory) {
        const auto limit = cgroup.memoryLimit();
        if (!limit) return {};
        constexpr double gib = 1024.0 * 1024 * 1024;
        if (*limit < std::uint64_t(gib))
            return formatC("limit %.0f MiB", {double(*limit) / 1024 / 1024});
        return formatC(*limit % std::uint64_t(gib) == 0 ? "limit %.0f GiB" : "limit %.1f GiB",
                       {double(*limit) / gib});
    }
    if (row == PanelRow::cpu) {
        const auto cores = cgroup.cpuLimit();
        if (!cores) return {};
        // As few digits as say it: 0.5, 1.25, 2.
        std::string number = formatC("%.2f", {*cores});
        while (number.back() == '0') number.pop_back();
        if (number.back() == '.') number.pop_back();
        return "limit " + number + " CPU";
    }
    return {};
}

void ExtraRows::addFigure(PanelRow row, double percent) {
    if (const auto i = sparkIndex(row)) sparklines_[*i].add(wallClockMs(), percent);
}

std::array<double, Sparkline::cells> ExtraRows::sparklineMeans(PanelRow row) const {
    std::array<double, Sparkline::cells> none;
    none.fill(std::numeric_limits<double>::quiet_NaN());
    const auto i = sparkIndex(row);
    return i ? sparklines_[*i].means(wallClockMs()) : none;
}

std::string ExtraRows::sparkline(PanelRow row, bool unicode) const {
    const auto i = sparkIndex(row);
    return i ? sparklines_[*i].text(wallClockMs(), unicode) : std::string();
}

ExtraRow ExtraRows::made() const {
    ExtraRow row;
    row.bar = std::make_shared<ProgressBar>();
    if (prepare_) prepare_(*row.bar);
    return row;
}

bool ExtraRows::showBatteryPower(std::optional<double> watts, std::optional<bool> adapter) {
    std::string text;
    if (watts) text = formatC("%.1f W", {*watts});
    if (adapter)
        text +=
            (text.empty() ? "" : ", ") + std::string(*adapter ? "adapter connected" : "on battery");
    batteryPower_.available = !text.empty();
    const bool changed = text != batteryPower_.text;
    batteryPower_.text = std::move(text);
    return changed;
}

bool ExtraRows::refresh(const std::vector<PanelRow>& rows, const Configuration& config) {
    if (recording_) recording_->tick();
    const auto chosen = [&](PanelRow r) {
        return std::find(rows.begin(), rows.end(), r) != rows.end();
    };
    unsigned parts = 0;
    if (chosen(PanelRow::cores)) parts |= Sample::Part::cores;
    if (chosen(PanelRow::swap)) parts |= Sample::Part::swap;
    if (chosen(PanelRow::pressure)) parts |= Sample::Part::pressure;
    if (chosen(PanelRow::diskio)) parts |= Sample::Part::diskIo;
    if (chosen(PanelRow::filesystems)) parts |= Sample::Part::fileSystems;
    if (chosen(PanelRow::interfaces)) parts |= Sample::Part::network;
    if (chosen(PanelRow::temperatures) || chosen(PanelRow::fans)) parts |= Sample::Part::sensors;
    if (parts == 0) return false;

    // The rows name every interface they show, so the routes that find the primary one
    // are not read.
    static const LinuxPlatform::DefaultRoutes noRoutes;
    const Sample s = sampler_.take(&noRoutes, parts);
    Tints tints(config);
    if (chosen(PanelRow::swap)) {
        show(swap_, s.swap ? s.swap->usedRatio : std::nullopt, tints);
        if (s.swap && s.swap->usedRatio) addFigure(PanelRow::swap, *s.swap->usedRatio * 100.0);
    }
    if (chosen(PanelRow::cores)) {
        while (cores_.size() < s.cpu.cores.size()) cores_.push_back(made());
        cores_.resize(s.cpu.cores.size());
        for (std::size_t i = 0; i < cores_.size(); ++i)
            show(cores_[i], s.cpu.cores[i].usedRatio, tints);
    }

    if (chosen(PanelRow::pressure)) {
        pressure_.available = !s.pressure.empty();
        pressure_.text = pressure_.available ? std::string() : notAvailable;
        for (const SamplePressure& p : s.pressure) {
            static constexpr std::pair<std::string_view, const char*> titles[] = {
                {"cpu", "CPU"}, {"memory", "Memory"}, {"io", "I/O"}};
            const auto title = std::find_if(std::begin(titles), std::end(titles),
                                            [&](const auto& t) { return t.first == p.resource; });
            if (!p.stall.some || title == std::end(titles)) continue;
            if (!pressure_.text.empty()) pressure_.text += "  ";
            pressure_.text += formatC("%s %.1f%%", {title->second, p.stall.some->avg10});
        }
    }
    if (chosen(PanelRow::filesystems)) {
        // Every one df lists but those in memory, or the chosen ones whatever they are.
        const std::vector<std::string> named = chosenRowItems(config, fileSystemsKey);
        std::vector<std::pair<std::string, const Sample::FileSystem*>> shown;
        for (const std::string& mountPoint : named) {
            const auto fs = std::find_if(s.fileSystems.begin(), s.fileSystems.end(),
                                         [&](const auto& f) { return f.mountPoint == mountPoint; });
            shown.emplace_back(mountPoint, fs == s.fileSystems.end() ? nullptr : &*fs);
        }
        for (const Sample::FileSystem& fs : named.empty() ? s.fileSystems : noFileSystems) {
            static constexpr std::string_view inMemory[] = {"tmpfs", "devtmpfs", "ramfs",
                                                            "squashfs"};
            if (std::find(std::begin(inMemory), std::end(inMemory), fs.fsType) ==
                std::end(inMemory))
                shown.emplace_back(fs.mountPoint, &fs);
        }
        while (fileSystems_.size() < shown.size()) fileSystems_.push_back(made());
        fileSystems_.resize(shown.size());
        for (std::size_t i = 0; i < shown.size(); ++i) {
            ExtraRow& row = fileSystems_[i];
            const Sample::FileSystem* fs = shown[i].second;
            row.title = shown[i].first;
            show(row, fs ? fs->usedRatio : std::nullopt, tints);
            if (fs && fs->stale) row.text = row.available ? row.text + " (stale)" : "stale";
        }
    }
    if (chosen(PanelRow::diskio)) {
        diskIo_.available = !s.disks.empty();
        diskIo_.text = !diskIo_.available ? notAvailable
                       : s.diskReadBytesPerSecond
                           ? "read " + formatRate(std::uint64_t(*s.diskReadBytesPerSecond)) +
                                 "  write " +
                                 formatRate(std::uint64_t(*s.diskWrittenBytesPerSecond))
                           : std::string();
    }

    if (chosen(PanelRow::interfaces)) {
        // Every one but loopback, or the chosen ones in their order; then their sum.
        const std::vector<std::string> named = chosenRowItems(config, interfacesKey);
        std::vector<std::pair<std::string, const Sample::Interface*>> shown;
        for (const std::string& name : named) {
            const auto i = std::find_if(s.interfaces.begin(), s.interfaces.end(),
                                        [&](const auto& f) { return f.name == name; });
            shown.emplace_back(name, i == s.interfaces.end() ? nullptr : &*i);
        }
        for (const Sample::Interface& i : named.empty() ? s.interfaces : noInterfaces) {
            if (i.name != "lo") shown.emplace_back(i.name, &i);
        }
        interfaces_.clear();
        double down = 0, up = 0;
        bool rated = true;
        const auto rates = [](std::optional<double> in, std::optional<double> out) {
            if (!in || !out) return std::string();
            return "\u2193 " + formatRate(std::uint64_t(*in)) + "  \u2191 " +
                   formatRate(std::uint64_t(*out));
        };
        for (const auto& [name, i] : shown) {
            ExtraRow& row = interfaces_.emplace_back();
            row.title = name;
            row.available = i != nullptr;
            if (!i) {
                row.text = notAvailable;
                continue;
            }
            row.text = rates(i->receivedPerSecond, i->sentPerSecond);
            rated = rated && i->receivedPerSecond && i->sentPerSecond;
            down += i->receivedPerSecond.value_or(0);
            up += i->sentPerSecond.value_or(0);
        }
        if (shown.size() >= 2) {
            ExtraRow& all = interfaces_.emplace_back();
            all.title = "All";
            all.text = rated ? rates(down, up) : std::string();
            all.available = true;
        }
    }
    if (chosen(PanelRow::temperatures)) showTemperatures(temperatures_, s.temperatures);
    if (chosen(PanelRow::fans)) {
        fans_.text.clear();
        for (const SensorReading& r : s.fans) {
            if (!r.value) continue;
            if (!fans_.text.empty()) fans_.text += "  ";
            fans_.text += formatC("%s %.0f rpm", {std::string_view(r.label), *r.value});
        }
        fans_.available = !fans_.text.empty();
        if (!fans_.available) fans_.text = notAvailable;
    }

    std::vector<std::string> now{swap_.text, pressure_.text, diskIo_.text, temperatures_.text,
                                 fans_.text};
    for (const ExtraRow& core : cores_) now.push_back(core.text);
    for (const ExtraRow& fs : fileSystems_) now.push_back(fs.title + fs.text);
    for (const ExtraRow& i : interfaces_) now.push_back(i.title + i.text);
    const bool changed = now != shown_;
    shown_ = std::move(now);
    return changed;
}

}  // namespace quillo
