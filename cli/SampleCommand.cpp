#include "SampleCommand.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "common/CommandLine.hpp"
#include "quillo/metrics/Battery.hpp"
#include "quillo/metrics/DataUsage.hpp"
#include "quillo/metrics/Device.hpp"
#include "quillo/metrics/Sample.hpp"
#include "quillo/metrics/System.hpp"
#include "quillo/widget/Format.hpp"

namespace quillo::cli {

namespace {

using Json = nlohmann::ordered_json;

Json number(double value) {
    return std::isfinite(value) ? Json(value) : Json(nullptr);
}

template <class T>
Json optional(const std::optional<T>& value) {
    if (!value) return nullptr;
    if constexpr (std::is_floating_point_v<T>) return number(*value);
    return Json(*value);
}

Json batteryJson() {
    Battery battery = Battery::init();
    if (battery.open() != kIOReturnSuccess) return nullptr;
    Json j = {{"charge", optional(battery.charge())},
              {"currentCapacity", optional(battery.currentCapacity())},
              {"maxCapactiy", optional(battery.maxCapactiy())},
              {"designCapacity", optional(battery.designCapacity())},
              {"cycleCount", optional(battery.cycleCount())},
              {"designCycleCount", optional(battery.designCycleCount())},
              {"timeRemaining", optional(battery.timeRemaining())},
              {"timeRemainingFormatted", optional(battery.timeRemainingFormatted())},
              {"temperature", optional(battery.temperature())},
              {"isCharging", optional(battery.isCharging())},
              {"isCharged", optional(battery.isCharged())},
              {"isACPowered", optional(battery.isACPowered())}};
    battery.close();
    return j;
}

Json triple(const std::array<double, 3>& values) {
    return Json::array({number(values[0]), number(values[1]), number(values[2])});
}

void printText(const Json& sample) {
    for (const auto& [key, value] : sample.items()) {
        std::string text;
        if (value.is_object()) {
            for (const auto& [field, v] : value.items()) {
                if (!text.empty()) text += "  ";
                text += field + " " +
                        (v.is_string() ? visibleText(v.get<std::string>())
                                       : v.dump(-1, ' ', false, Json::error_handler_t::replace));
            }
        } else {
            text = value.is_string() ? visibleText(value.get<std::string>())
                                     : value.dump(-1, ' ', false, Json::error_handler_t::replace);
        }
        std::printf("%-20s %s\n", key.c_str(), text.c_str());
    }
}

}  // namespace

CLI::App* addSampleCommand(CLI::App& app, SampleOptions& options) {
    auto* sample =
        app.add_subcommand("sample", "Run every library reader once and print the answers");
    sample->add_option("--interval", options.interval, "seconds over which the CPU is sampled")
        ->capture_default_str()
        ->transform(quillo::finiteRange(0.0, 3600.0));
    sample->add_flag("--json", options.json, "print one JSON object");
    return sample;
}

Json swapJson(const std::optional<Sample::Swap>& swap) {
    if (!swap) return nullptr;
    return {{"totalBytes", swap->totalBytes},
            {"usedBytes", swap->usedBytes},
            {"usedRatio", optional(swap->usedRatio)},
            {"pagesIn", optional(swap->pagesIn)},
            {"pagesOut", optional(swap->pagesOut)},
            {"pagesInPerSecond", optional(swap->pagesInPerSecond)},
            {"pagesOutPerSecond", optional(swap->pagesOutPerSecond)}};
}

Json pressureJson(const std::vector<SamplePressure>& pressure) {
    if (pressure.empty()) return nullptr;
    Json j = Json::object();
    for (const SamplePressure& p : pressure) {
        Json& resource = j[std::string(p.resource)];
        for (const auto& [kind, line] :
             {std::pair{"some", &p.stall.some}, {"full", &p.stall.full}}) {
            resource[kind] = *line
                                 ? Json{{"avg10", (*line)->avg10},
                                        {"avg60", (*line)->avg60},
                                        {"avg300", (*line)->avg300},
                                        {"totalSeconds", double((*line)->totalMicroseconds) / 1e6}}
                                 : Json(nullptr);
        }
    }
    return j;
}

Json diskIoJson(const Sample& s) {
    Json disks = Json::array();
    for (const Sample::DiskIo& d : s.disks) {
        disks.push_back({{"device", d.device},
                         {"kind", d.kind == DiskKind::whole ? "disk" : "stacked"},
                         {"readBytes", d.readBytes},
                         {"writtenBytes", d.writtenBytes},
                         {"readBytesPerSecond", optional(d.readBytesPerSecond)},
                         {"writtenBytesPerSecond", optional(d.writtenBytesPerSecond)}});
    }
    return {{"readBytesPerSecond", optional(s.diskReadBytesPerSecond)},
            {"writtenBytesPerSecond", optional(s.diskWrittenBytesPerSecond)},
            {"disks", disks}};
}

Json fileSystemsJson(const std::vector<Sample::FileSystem>& fileSystems) {
    Json list = Json::array();
    for (const Sample::FileSystem& fs : fileSystems) {
        const auto bytes = [&](std::uint64_t VolumeSpace::*field) {
            return fs.space ? Json((*fs.space).*field) : Json(nullptr);
        };
        list.push_back({{"mountPoint", fs.mountPoint},
                        {"device", fs.device},
                        {"fsType", fs.fsType},
                        {"sizeBytes", bytes(&VolumeSpace::size)},
                        {"availBytes", bytes(&VolumeSpace::available)},
                        {"freeBytes", bytes(&VolumeSpace::free)},
                        {"usedRatio", optional(fs.usedRatio)},
                        {"stale", fs.stale}});
    }
    return list;
}

Json sensorsJson(const Sample& s) {
    Json j = Json::object();
    for (const auto& [key, list, unit] :
         {std::tuple{"temperatures", &s.temperatures, "celsius"}, {"fans", &s.fans, "rpm"}}) {
        Json& out = j[key] = Json::array();
        for (const SensorReading& r : *list) {
            out.push_back({{"chip", r.chip},
                           {"name", r.chipName},
                           {"sensor", r.sensor},
                           {"label", r.label},
                           {unit, optional(r.value)}});
        }
    }
    return j;
}

Json sampleAll(double interval, LinuxPlatform& platform) {
    System sys = System::init();
    Sampler sampler(platform);
    sys.usageCPU();
    sampler.take();
    std::this_thread::sleep_for(std::chrono::duration<double>(interval));
    const System::CPUUsage cpu = sys.usageCPU();
    const Sample typed = sampler.take();
    const System::MemoryUsage memory = System::memoryUsage();
    const System::Uptime up = System::uptime();
    const System::ProcessCounts counts = System::processCounts();
    const System::CPUPowerLimitResult power = System::CPUPowerLimit();

    Json j;
    j["usageCPU"] = {{"system", number(cpu.system)},
                     {"user", number(cpu.user)},
                     {"idle", number(cpu.idle)},
                     {"nice", number(cpu.nice)}};
    j["cores"] = Json::array();
    for (const Sample::Core& core : typed.cpu.cores)
        j["cores"].push_back({{"cpu", core.cpu}, {"usedRatio", optional(core.usedRatio)}});
    j["memoryUsage"] = {{"free", number(memory.free)},
                        {"active", number(memory.active)},
                        {"inactive", number(memory.inactive)},
                        {"wired", number(memory.wired)},
                        {"compressed", number(memory.compressed)}};
    j["physicalMemory"] = number(System::physicalMemory());
    j["swap"] = swapJson(typed.swap);
    j["pressure"] = pressureJson(typed.pressure);
    j["cgroup"] = nullptr;
    if (const auto& c = typed.cgroup) {
        j["cgroup"] = {{"path", c->path},
                       {"memoryLimitBytes", optional(c->memoryLimitBytes)},
                       {"memoryUsedBytes", optional(c->memoryUsedBytes)},
                       {"cpuLimitCores", optional(c->cpuLimitCores)},
                       {"cpuSeconds", optional(c->cpuSeconds)},
                       {"cpuUsedRatio", optional(c->cpuUsedRatio)},
                       {"throttledPeriods", optional(c->throttledPeriods)},
                       {"throttledSeconds", optional(c->throttledSeconds)}};
    }
    j["fileSystems"] = fileSystemsJson(typed.fileSystems);
    j["diskIo"] = diskIoJson(typed);
    j["sensors"] = sensorsJson(typed);
    j["loadAverage"] = {{"long", triple(System::loadAverage(System::LOAD_AVG::long_))},
                        {"short", triple(System::loadAverage(System::LOAD_AVG::short_))}};
    j["machFactor"] = triple(System::machFactor());
    j["uptime"] = {{"days", up.days}, {"hrs", up.hrs}, {"mins", up.mins}, {"secs", up.secs}};
    j["processCounts"] = {{"processCount", counts.processCount},
                          {"threadCount", counts.threadCount}};
    j["modelName"] = System::modelName();
    j["physicalCores"] = System::physicalCores();
    j["logicalCores"] = System::logicalCores();
    j["CPUPowerLimit"] = {{"processorSpeed", number(power.processorSpeed)},
                          {"processorCount", power.processorCount},
                          {"schedulerTime", number(power.schedulerTime)}};
    j["thermalLevel"] = std::string(rawValue(System::thermalLevel()));
    j["battery"] = batteryJson();
    const auto [ipv4, ipv6] = Device::shared().globalNetworkState();
    const auto family = [](const GlobalNetworkState& state) {
        const auto text = [](const std::optional<std::string>& v) {
            return v ? Json(*v) : Json(nullptr);
        };
        return Json{{"primaryInterface", text(state.primaryInterface)},
                    {"router", text(state.router)},
                    {"primaryService", text(state.primaryService)}};
    };
    j["globalNetworkState"] = {{"ipv4", family(ipv4)}, {"ipv6", family(ipv6)}};
    if (const auto measured = primaryInterfaceToMeasure()) {
        const data_usage usage = get_data_usage(measured->c_str());
        j["dataUsage"] = {
            {"interface", *measured}, {"upload", usage.upload}, {"download", usage.download}};
    } else {
        j["dataUsage"] = nullptr;
    }
    return j;
}

int runSample(const SampleOptions& options, LinuxPlatform& platform) {
    const Json sample = sampleAll(options.interval, platform);
    if (options.json) {
        // Invalid bytes in names from the machine are replaced, never a reason to fail.
        std::printf(
            "%s\n",
            jsonEscaped(sample.dump(2, ' ', false, Json::error_handler_t::replace)).c_str());
    } else {
        printText(sample);
    }
    return 0;
}

}  // namespace quillo::cli
