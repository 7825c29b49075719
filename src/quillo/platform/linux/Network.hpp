#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "quillo/platform/Platform.hpp"
#include "quillo/platform/linux/FileReader.hpp"

namespace quillo {

// Interfaces and routes: procfs net/dev, net/route and net/ipv6_route, and each
// interface's index in sysfs.

// One interface line of net/dev: its name and its received and sent bytes. A line
// that is short, has a field that is not a number or has no colon is not one.
bool parseNetDevLine(std::string_view line, std::string_view& name, std::uint64_t& received,
                     std::uint64_t& sent);
// The same line's errors and drops too, each way; absent where the line stops short of
// them.
struct NetDevCounters {
    std::uint64_t received = 0, sent = 0;
    std::optional<std::uint64_t> receiveErrors, receiveDrops, transmitErrors, transmitDrops;
};
bool parseNetDevLine(std::string_view line, std::string_view& name, NetDevCounters& out);
template <class F>
void forEachNetDevLine(std::string_view text, F&& f);

// The best default route of a family: up, not a reject route, not on lo, the lowest
// metric (the first of equals). The gateway is text, empty when the route has none.
struct DefaultRoute {
    std::string interface;
    std::string gateway;
    std::uint64_t metric = 0;
    friend bool operator==(const DefaultRoute&, const DefaultRoute&) = default;
};
// net/route prints each address as the integer the machine stores, so its digits are
// read in the byte order of the machine that wrote them.
std::optional<DefaultRoute> parseIPv4DefaultRoute(std::string_view netRoute,
                                                  std::endian order = std::endian::native);
std::optional<DefaultRoute> parseIPv6DefaultRoute(std::string_view ipv6Route);

// A name the kernel could have given an interface; anything else must not become a
// path under sysfs.
bool plausibleInterfaceName(std::string_view name);

class NetworkFiles {
  public:
    explicit NetworkFiles(FileReader& files) : files_(files) {}

    unsigned interfaceIndex(std::string_view name);
    bool walkInterfaces(const Platform::InterfaceVisitor& f);
    // Every interface line with all its counters; false when net/dev cannot be read.
    bool walkCounters(const std::function<bool(std::string_view, const NetDevCounters&)>& f);
    std::optional<DefaultRoute> defaultRoute(bool ipv4);

  private:
    FileReader& files_;
};

template <class F>
void forEachNetDevLine(std::string_view text, F&& f) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view name;
        std::uint64_t received = 0, sent = 0;
        // The two header lines never parse; the rest is one interface a line.
        if (parseNetDevLine(text.substr(0, end), name, received, sent) &&
            !f(name, received, sent)) {
            return;
        }
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

}  // namespace quillo
