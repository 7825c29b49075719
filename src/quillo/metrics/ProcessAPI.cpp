#include "quillo/metrics/ProcessAPI.hpp"

#include <algorithm>
#include <atomic>
#include <thread>

#include "quillo/metrics/Utf8.hpp"
#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Platform.hpp"

namespace quillo {

namespace {

void describe(Platform& platform, std::int32_t pid, ProcessInfo& p) {
    const kinfo_proc facts = platform.processInfo(pid).value_or(kinfo_proc{});
    p.pid = pid;
    p.ppid = facts.e_ppid;
    p.pgid = facts.e_pgid;
    p.uid = std::int64_t(facts.cr_uid);
    p.command = decodeUtf8Lossy(facts.p_comm);
    p.arch = platform.processCpuType(pid).value_or(-1);
    p.status = facts.p_stat;  // NOLINT(bugprone-signed-char-misuse): sign-extended on purpose
}

// Below this many processes a second thread costs more than it saves.
constexpr std::size_t processesPerThread = 512;

}  // namespace

std::vector<ProcessInfo> ProcessAPI::list() {
    Platform& platform = currentPlatform();
    thread_local std::vector<std::int32_t> reused;
    std::vector<std::int32_t>& pids = reused;  // the helpers must see this thread's list
    if (!platform.listProcesses(pids)) return {};
    std::vector<ProcessInfo> processes(pids.size());
    // Reading procfs is the whole cost and scales with the cores. Each thread takes the
    // next few processes as it gets free, because their cost varies (kernel threads
    // have no status to read), and writes each into its own record, so the order stays
    // the kernel's.
    const std::size_t cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
    const std::size_t threads =
        std::min(cores, std::max<std::size_t>(1, pids.size() / processesPerThread));
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        constexpr std::size_t chunk = 32;
        for (std::size_t begin; (begin = next.fetch_add(chunk)) < pids.size();) {
            const std::size_t end = std::min(begin + chunk, pids.size());
            for (std::size_t i = begin; i < end; ++i) describe(platform, pids[i], processes[i]);
        }
    };
    // Helpers are a speed-up, never a condition: under a process limit (RLIMIT_NPROC) or
    // without memory for a stack, the calling thread does what they would have.
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(threads - 1);
        for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
    } catch (const std::exception&) {
        debug::note("processes", "no helper thread could be started; listing on one");
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    return processes;
}

}  // namespace quillo
