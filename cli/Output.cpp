#include "Output.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quillo::cli {

namespace {
int writeError = 0;
}

void writeOutput(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && writeError == 0)
        writeError = errno;
}

int closeOutput(int status) {
    const bool failedBefore = std::ferror(stdout) != 0;
    errno = 0;
    const bool closed = std::fclose(stdout) == 0;
    if (closed && !failedBefore) return status;
    const int reason = !closed && errno != 0 ? errno : writeError != 0 ? writeError : EIO;
    std::fprintf(stderr, "quillo: cannot write the output: %s\n", std::strerror(reason));
    return status == 0 ? 1 : status;
}

}  // namespace quillo::cli
