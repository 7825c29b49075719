#include "quillo/platform/linux/Machine.hpp"

#include <unistd.h>

#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Text.hpp"

namespace quillo {

namespace {

std::uint64_t sysconfOr(int name, std::uint64_t fallback) {
    const long value = ::sysconf(name);
    return value > 0 ? std::uint64_t(value) : fallback;
}

}  // namespace

std::uint64_t pageSize() {
    static const std::uint64_t size = sysconfOr(_SC_PAGESIZE, 4096);
    return size;
}

std::uint64_t clockTicksPerSecond() {
    static const std::uint64_t hertz = sysconfOr(_SC_CLK_TCK, 100);
    return hertz;
}

cpu_type_t machineCpuType() {
#if defined(__x86_64__)
    return CPU_TYPE_X86_64;
#elif defined(__i386__)
    return CPU_TYPE_I386;
#elif defined(__aarch64__)
    return CPU_TYPE_ARM64;
#elif defined(__arm__)
    return CPU_TYPE_ARM;
#elif defined(__powerpc64__)
    return CPU_TYPE_POWERPC64;
#elif defined(__powerpc__)
    return CPU_TYPE_POWERPC;
#else
    return CPU_TYPE_ANY;
#endif
}

std::filesystem::path ownExecutable() {
    // The kernel's own procfs, not a root given for reading figures.
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self;
}

std::optional<std::string> MachineFiles::model() {
    ReadBuffer text;
    // Firmware of PCs names the product in DMI; boards without it name it in the device tree.
    for (const char* path : {"class/dmi/id/product_name", "firmware/devicetree/base/model"}) {
        if (!files_.readOnce(Fs::sys, path, text)) {
            debug::note(path, describe(text.failure()));
            continue;
        }
        const std::string_view name = trim(text.view().substr(0, text.view().find('\0')));
        if (!name.empty()) return std::string(name);
        debug::note(path, "empty");
    }
    return std::nullopt;
}

}  // namespace quillo
