#include "quillo/platform/Platform.hpp"

#include <atomic>

#include "quillo/platform/linux/LinuxPlatform.hpp"

namespace quillo {

namespace {
std::atomic<Platform*> installed{nullptr};
}

Platform& currentPlatform() {
    if (Platform* p = installed.load(std::memory_order_acquire)) return *p;
    static LinuxPlatform live;
    return live;
}

void setCurrentPlatform(Platform* platform) {
    installed.store(platform, std::memory_order_release);
}

}  // namespace quillo
