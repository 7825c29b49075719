// Prints this machine's installed memory, CPU use and busiest facts with the Quillo
// library, and says whether this program is in the machine's process list.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <quillo/metrics/ProcessAPI.hpp>
#include <quillo/metrics/Sample.hpp>
#include <quillo/metrics/System.hpp>
#include <thread>

int main() {
    using quillo::System;
    System sys;
    sys.usageCPU();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double busy = 100.0 - sys.usageCPU().idle;
    bool listed = false;
    for (const quillo::ProcessInfo& p : quillo::ProcessAPI::list())
        listed = listed || p.pid == ::getpid();
    std::printf("memory %.0f bytes\ncpu %.1f%%\nlogical cores %lld\nlisted %s\n",
                System::physicalMemory(System::Unit::byte), busy,
                static_cast<long long>(System::logicalCores()), listed ? "yes" : "no");
    // The same total from the typed sample: both sit on one reading of meminfo.
    quillo::LinuxPlatform platform;
    const quillo::Sample sample = quillo::Sampler(platform).take();
    if (sample.memory)
        std::printf("sample memory %llu bytes\n",
                    static_cast<unsigned long long>(sample.memory->totalBytes));
    return listed ? 0 : 1;
}
