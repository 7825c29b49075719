#include "support/Run.hpp"

#include <sys/wait.h>

#include <cstdlib>

namespace quillo::test {

RunResult run(const std::string& commandLine) {
    TempDir scratch;
    const auto out = scratch.path() / "out";
    const auto err = scratch.path() / "err";
    const int raw = std::system(("{ " + commandLine + "\n} </dev/null >" + quoted(out.string()) +
                                 " 2>" + quoted(err.string()))
                                    .c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
}

}  // namespace quillo::test
