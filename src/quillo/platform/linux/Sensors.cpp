#include "quillo/platform/linux/Sensors.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "quillo/platform/Text.hpp"

namespace quillo {

namespace {

std::string_view lastPart(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view parentOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

}  // namespace

std::string cleanSensorName(std::string_view name) {
    std::string out;
    for (const char c : name) {
        const char lower = char(std::tolower(static_cast<unsigned char>(c)));
        const bool kept = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') ||
                          lower == ':' || lower == '_';
        out += kept ? lower : '_';
    }
    const std::size_t first = out.find_first_not_of('_');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of('_') - first + 1);
}

std::string lexicallyNormal(std::string_view path) {
    std::vector<std::string_view> parts;

    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string_view part : parts) {
        if (!out.empty()) out += '/';
        out += part;
    }
    return out;
}

bool isCpuChip(std::string_view chipName) {
    for (const std::string_view cpu :
         {"coretemp", "k10temp", "zenpower", "cpu_thermal", "cpu-thermal", "x86_pkg_temp"}) {
        if (chipName == cpu) return true;
    }
    return false;
}

std::string SensorFiles::chipOf(std::string_view hwmon, std::string_view name) {
    // The hwmon folder's place under devices/, then its device link from there.
    const int root = files_.rootDescriptor(Fs::sys);
    char target[4096];
    const auto link = [&](const std::string& at) -> std::optional<std::string> {
        const ssize_t n = ::readlinkat(root, at.c_str(), target, sizeof target);
        if (n <= 0 || std::size_t(n) >= sizeof target) return std::nullopt;
        return std::string(target, std::size_t(n));
    };
    const std::string classPath = "class/hwmon/" + std::string(hwmon);
    const auto folder = link(classPath);
    const auto device = link(classPath + "/device");
    if (root >= 0 && device) {
        const std::string here = folder ? lexicallyNormal("class/hwmon/" + *folder) : classPath;
        const std::string devicePath = lexicallyNormal(here + "/" + *device);
        const std::string devName = cleanSensorName(lastPart(devicePath));
        const std::string devType = cleanSensorName(lastPart(parentOf(devicePath)));
        if (!devType.empty() && !devName.empty()) return devType + "_" + devName;
        if (!devName.empty()) return devName;
    }
    return cleanSensorName(name);
}

SensorFiles::Readings SensorFiles::read() {
    std::vector<std::string> chips;
    files_.forEachEntryTick(Fs::sys, "class/hwmon", [&](std::string_view entry) {
        if (entry.starts_with("hwmon")) chips.emplace_back(entry);
    });
    std::sort(chips.begin(), chips.end());
    Readings out;
    ReadBuffer text;
    const auto value = [&](const std::string& path) -> std::optional<std::int64_t> {
        if (!files_.read(Fs::sys, path, text)) return std::nullopt;
        return parseSigned(trim(text.view()));
    };
    bool cpuChip = false;
    for (const std::string& hwmon : chips) {
        const std::string base = "class/hwmon/" + hwmon + "/";
        const std::string name =
            files_.read(Fs::sys, base + "name", text) ? std::string(trim(text.view())) : hwmon;
        const std::string chip = chipOf(hwmon, name);
        cpuChip = cpuChip || isCpuChip(name);
        // The chip's inputs as its folder lists them: temp1_input, fan3_input...
        std::vector<std::pair<std::string, int>> inputs;
        files_.forEachEntry(Fs::sys, base, [&](std::string_view entry) {
            if (!entry.ends_with("_input") || inputs.size() >= 2 * maximumSensors) return;
            const std::string_view sensor = entry.substr(0, entry.size() - 6);
            const std::size_t digits = sensor.find_first_of("0123456789");
            const auto number = parseUnsigned(sensor.substr(std::min(digits, sensor.size())));
            if (number && *number < 1000 &&
                (sensor.substr(0, digits) == "temp" || sensor.substr(0, digits) == "fan"))
                inputs.emplace_back(std::string(sensor.substr(0, digits)), int(*number));
        });
        std::sort(inputs.begin(), inputs.end());
        for (const auto& [kind, number] : inputs) {
            const bool temperature = kind == "temp";
            const std::string sensor = kind + std::to_string(number);
            const auto raw = value(base + sensor + "_input");
            if (!raw) continue;
            SensorReading r{chip, name, sensor, sensor, {}};
            if (files_.read(Fs::sys, base + sensor + "_label", text) && !trim(text.view()).empty())
                r.label = std::string(trim(text.view()));
            const double v = temperature ? double(*raw) / 1000.0 : double(*raw);
            if (temperature ? v >= -40 && v <= 150 : v >= 0 && v <= 50000) r.value = v;
            (temperature ? out.temperatures : out.fans).push_back(std::move(r));
        }
    }
    if (cpuChip) return out;
    // No chip for the CPU: its thermal zones, by their type.
    std::vector<std::string> zones;
    files_.forEachEntryTick(Fs::sys, "class/thermal", [&](std::string_view entry) {
        if (entry.starts_with("thermal_zone")) zones.emplace_back(entry);
    });
    std::sort(zones.begin(), zones.end());
    for (const std::string& zone : zones) {
        const std::string base = "class/thermal/" + zone + "/";
        if (!files_.read(Fs::sys, base + "type", text)) continue;
        const std::string type(trim(text.view()));
        if (!isCpuChip(type)) continue;
        SensorReading r{cleanSensorName(zone), type, "temp1", type, {}};
        if (const auto raw = value(base + "temp"); raw && *raw >= -40000 && *raw <= 150000)
            r.value = double(*raw) / 1000.0;
        out.temperatures.push_back(std::move(r));
    }
    return out;
}

}  // namespace quillo
