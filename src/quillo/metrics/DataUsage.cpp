#include "quillo/metrics/DataUsage.hpp"

#include <cstdio>
#include <new>
#include <string>

#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Platform.hpp"

namespace quillo {

data_usage get_data_usage(const char* name) {
    Platform& platform = currentPlatform();
    if (!name || platform.if_nametoindex(name) == 0) return {};
    const std::string_view wanted(name);
    data_usage usage;
    bool found = false;
    try {
        const bool fetched = platform.walkInterfaceList(
            [&](std::string_view entry, std::uint64_t ibytes, std::uint64_t obytes) {
                if (entry != wanted) return true;
                usage = {obytes, ibytes};
                found = true;
                return false;
            });
        if (!fetched) return {};
        if (!found && debug::enabled())
            debug::noteAlways("net/dev", std::string("no line for ") + name);
    } catch (const std::bad_alloc&) {
        std::puts("malloc failed");
        std::fflush(stdout);
        return {};
    }
    return usage;
}

}  // namespace quillo
