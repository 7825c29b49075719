// Pressure files, diskstats, device names and the mount table.
#include <string_view>

#include "quillo/platform/Text.hpp"
#include "quillo/platform/linux/Activity.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)quillo::parsePressure(text);
    (void)quillo::dfMounts(quillo::parseMountInfo(text));
    for (const quillo::DiskCounters& d : quillo::parseDiskStats(text))
        (void)quillo::diskKind(d.name);
    quillo::forEachField(text, [](std::string_view name) {
        (void)quillo::diskKind(name);
        return true;
    });
    return 0;
}
