#include "quillo/platform/linux/Network.hpp"

#include <arpa/inet.h>
#include <net/if.h>

#include <cstdio>

#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Text.hpp"

namespace quillo {

bool parseNetDevLine(std::string_view line, std::string_view& name, NetDevCounters& out) {
    // The name ends at the last colon: "eth0:68210035552" has no space after it, and a
    // colon inside a name (an old alias such as "ibr10:30") belongs to the name.
    const std::size_t colon = line.rfind(':');
    if (colon == std::string_view::npos) return false;
    name = trim(line.substr(0, colon));
    if (name.empty()) return false;
    // Eight receive columns (bytes packets errs drop ...), then eight transmit columns.
    std::uint64_t fields[12] = {};
    int n = 0;
    bool numeric = true;
    forEachField(line.substr(colon + 1), [&](std::string_view field) {
        const auto value = parseUnsigned(field);
        if (!value) return numeric = false;
        fields[n++] = *value;
        return n < 12;
    });
    if (!numeric || n < 9) return false;
    out = {fields[0], fields[8], {}, {}, {}, {}};
    if (n == 12) {
        out.receiveErrors = fields[2];
        out.receiveDrops = fields[3];
        out.transmitErrors = fields[10];
        out.transmitDrops = fields[11];
    }
    return true;
}

bool parseNetDevLine(std::string_view line, std::string_view& name, std::uint64_t& received,
                     std::uint64_t& sent) {
    NetDevCounters counters;
    if (!parseNetDevLine(line, name, counters)) return false;
    received = counters.received;
    sent = counters.sent;
    return true;
}

namespace {

constexpr std::uint64_t RTF_UP = 0x0001;
constexpr std::uint64_t RTF_REJECT = 0x0200;

void consider(std::optional<DefaultRoute>& best, DefaultRoute candidate) {
    if (!best || candidate.metric < best->metric) best = std::move(candidate);
}

bool allZero(const unsigned char (&address)[16]) {
    for (const unsigned char byte : address) {
        if (byte != 0) return false;
    }
    return true;
}

}  // namespace

std::optional<DefaultRoute> parseIPv4DefaultRoute(std::string_view netRoute, std::endian order) {
    std::optional<DefaultRoute> best;
    forEachLine(netRoute, [&](std::string_view line) {
        std::string_view f[8];
        if (leadingFields(line, f) < 8) return true;
        const auto destination = parseHex(f[1], 8);
        const auto gateway = parseHex(f[2], 8);
        const auto flags = parseHex(f[3], 4);
        const auto metric = parseUnsigned(f[6]);
        const auto mask = parseHex(f[7], 8);
        if (!destination || !gateway || !flags || !metric || !mask) return true;
        if (*destination != 0 || *mask != 0 || !(*flags & RTF_UP) || (*flags & RTF_REJECT) ||
            f[0] == "lo") {
            return true;
        }
        DefaultRoute route{std::string(f[0]), {}, *metric};
        if (*gateway != 0) {
            // The address is stored in network order, so the first octet is the byte
            // stored first: the lowest of the integer on a little-endian machine, the
            // highest on a big-endian one.
            std::uint32_t g = std::uint32_t(*gateway);
            if (order == std::endian::big) g = __builtin_bswap32(g);
            char text[INET_ADDRSTRLEN];
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", g & 0xff, (g >> 8) & 0xff,
                          (g >> 16) & 0xff, g >> 24);
            route.gateway = text;
        }
        consider(best, std::move(route));
        return true;
    });
    return best;
}

std::optional<DefaultRoute> parseIPv6DefaultRoute(std::string_view ipv6Route) {
    std::optional<DefaultRoute> best;
    forEachLine(ipv6Route, [&](std::string_view line) {
        std::string_view f[10];
        if (leadingFields(line, f) < 10) return true;
        const auto prefix = parseHex(f[1], 2);
        const auto metric = parseHex(f[5], 8);
        const auto flags = parseHex(f[8], 8);
        if (f[0].size() != 32 || f[4].size() != 32 || !prefix || !metric || !flags) return true;
        unsigned char destination[16], hop[16];
        for (std::size_t i = 0; i < 16; ++i) {
            const auto d = parseHex(f[0].substr(2 * i, 2), 2);
            const auto h = parseHex(f[4].substr(2 * i, 2), 2);
            if (!d || !h) return true;
            destination[i] = static_cast<unsigned char>(*d);
            hop[i] = static_cast<unsigned char>(*h);
        }
        if (!allZero(destination) || *prefix != 0 || !(*flags & RTF_UP) || (*flags & RTF_REJECT) ||
            f[9] == "lo") {
            return true;
        }
        DefaultRoute route{std::string(f[9]), {}, *metric};
        if (!allZero(hop)) {
            char text[INET6_ADDRSTRLEN];
            if (::inet_ntop(AF_INET6, hop, text, sizeof text)) route.gateway = text;
        }
        consider(best, std::move(route));
        return true;
    });
    return best;
}

bool plausibleInterfaceName(std::string_view name) {
    if (name.empty() || name.size() >= 16 || name == "." || name == "..") return false;
    for (const char c : name) {
        if (c == '/' || c == ':' || static_cast<unsigned char>(c) <= ' ') return false;
    }
    return true;
}

unsigned NetworkFiles::interfaceIndex(std::string_view name) {
    if (!plausibleInterfaceName(name)) return 0;
    // sysfs lists the interfaces of the namespace that mounted it, which in a container or
    // after `unshare -n` is not this process's; procfs net/ and the kernel's own look-up
    // follow the process. A copied tree has only its files to say.
    if (files_.isKernel(Fs::proc)) return ::if_nametoindex(std::string(name).c_str());
    const std::string path = "class/net/" + std::string(name) + "/ifindex";
    const auto text = files_.readTick(Fs::sys, path);
    if (!text) return 0;
    const auto index = parseSigned(trim(*text));
    if (!index || *index <= 0 || *index > INT32_MAX) {
        debug::note(path, "malformed");
        return 0;
    }
    return unsigned(*index);
}

bool NetworkFiles::walkInterfaces(const Platform::InterfaceVisitor& f) {
    const auto text = files_.readTick(Fs::proc, "net/dev");
    if (!text) return false;
    forEachNetDevLine(*text, f);
    return true;
}

bool NetworkFiles::walkCounters(
    const std::function<bool(std::string_view, const NetDevCounters&)>& f) {
    const auto text = files_.readTick(Fs::proc, "net/dev");
    if (!text) return false;
    forEachLine(*text, [&](std::string_view line) {
        std::string_view name;
        NetDevCounters counters;
        return !parseNetDevLine(line, name, counters) || f(name, counters);
    });
    return true;
}

std::optional<DefaultRoute> NetworkFiles::defaultRoute(bool ipv4) {
    const char* path = ipv4 ? "net/route" : "net/ipv6_route";
    const auto text = files_.readTick(Fs::proc, path);
    if (!text) return std::nullopt;
    auto route = ipv4 ? parseIPv4DefaultRoute(*text) : parseIPv6DefaultRoute(*text);
    if (!route) debug::note(path, "no usable default route");
    return route;
}

}  // namespace quillo
