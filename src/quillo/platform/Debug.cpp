#include "quillo/platform/Debug.hpp"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_set>

#include "quillo/platform/Io.hpp"

namespace quillo::debug {

bool enabled() {
    static const bool on = [] {
        const char* value = std::getenv("QUILLO_DEBUG");
        return value && *value && std::string_view(value) != "0";
    }();
    return on;
}

void noteAlways(std::string_view what, std::string_view why) {
    std::string line = "quillo: debug: ";
    line.append(what).append(": ").append(why) += '\n';
    static std::mutex mutex;
    static std::unordered_set<std::string> written;
    std::lock_guard lock(mutex);
    // A reader that fails every tick says so once; the set stays small whatever happens.
    if (written.size() >= 4096 || !written.insert(line).second) return;
    writeAll(STDERR_FILENO, line);
}

void event(std::string_view what) {
    if (!enabled()) return;
    std::string line = "quillo: debug: ";
    line.append(what) += '\n';
    writeAll(STDERR_FILENO, line);
}

}  // namespace quillo::debug
