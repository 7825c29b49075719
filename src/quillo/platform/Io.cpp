#include "quillo/platform/Io.hpp"

#include <unistd.h>

#include <cerrno>

namespace quillo {

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(std::size_t(n));
    }
    return true;
}

}  // namespace quillo
