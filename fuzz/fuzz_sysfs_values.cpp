// Small sysfs and cgroup values: CPU lists, quotas, cgroup paths and thermal trips.
#include <string_view>
#include <vector>

#include "quillo/platform/Text.hpp"
#include "quillo/platform/linux/Cgroup.hpp"
#include "quillo/platform/linux/Cpu.hpp"
#include "quillo/platform/linux/Thermal.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)quillo::parseCpuList(text);
    (void)quillo::parseCgroupCpuMax(text);
    (void)quillo::parseCgroupMembership(text, true);
    std::vector<quillo::ThermalTrip> trips;
    quillo::forEachLine(text, [&](std::string_view line) {
        const auto space = line.find(' ');
        if (space == std::string_view::npos) return true;
        if (const auto t = quillo::parseSigned(line.substr(space + 1)))
            trips.push_back({std::string(line.substr(0, space)), *t});
        return true;
    });
    if (const auto temperature =
            quillo::parseSigned(quillo::trim(text.substr(0, text.find('\n'))))) {
        (void)quillo::thermalLevelOfZone(*temperature, trips);
    }
    return 0;
}
