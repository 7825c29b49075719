#include "quillo/platform/linux/Activity.hpp"

#include <cctype>

#include "quillo/platform/Text.hpp"

namespace quillo {

namespace {

// A device name of the form <prefix><digits...> with the given letters or digits between,
// as the kernel names partitions: "sda1", "nvme0n1p2", "mmcblk0p1".
bool endsInDigits(std::string_view name, std::size_t from) {
    if (from >= name.size()) return false;
    for (std::size_t i = from; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

bool startsWithDigitsThen(std::string_view name, std::size_t& i, char then) {
    const std::size_t start = i;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) ++i;
    if (i == start || i >= name.size() || name[i] != then) return false;
    ++i;
    return true;
}

}  // namespace

Pressure parsePressure(std::string_view text) {
    Pressure p;
    forEachLine(text, [&](std::string_view line) {
        std::string_view fields[5];
        if (leadingFields(line, fields) != 5) return true;
        std::optional<PressureLine>* slot = fields[0] == "some"   ? &p.some
                                            : fields[0] == "full" ? &p.full
                                                                  : nullptr;
        if (!slot || *slot) return true;
        // "key=value"'s value; empty, which no number parses from, for another key.
        const auto value = [](std::string_view field, std::string_view key) {
            return field.size() > key.size() && field.starts_with(key) && field[key.size()] == '='
                       ? field.substr(key.size() + 1)
                       : std::string_view();
        };
        const auto a10 = parseDecimal(value(fields[1], "avg10"));
        const auto a60 = parseDecimal(value(fields[2], "avg60"));
        const auto a300 = parseDecimal(value(fields[3], "avg300"));
        const auto total = parseUnsigned(value(fields[4], "total"));
        if (a10 && a60 && a300 && total) *slot = PressureLine{*a10, *a60, *a300, *total};
        return true;
    });
    return p;
}

std::vector<DiskCounters> parseDiskStats(std::string_view text) {
    std::vector<DiskCounters> disks;
    forEachLine(text, [&](std::string_view line) {
        // major minor name, then reads merged sectors ms, writes merged sectors ms,
        // in flight, io ms, weighted ms.
        std::string_view f[14];
        if (leadingFields(line, f) < 14) return true;
        std::optional<std::uint64_t> numbers[11];
        for (int i = 0; i < 11; ++i) {
            numbers[i] = parseUnsigned(f[3 + i]);
            if (!numbers[i]) return true;
        }
        if (!parseUnsigned(f[0]) || !parseUnsigned(f[1])) return true;
        disks.push_back({std::string(f[2]), *numbers[2], *numbers[6], *numbers[9]});
        return true;
    });
    return disks;
}

DiskKind diskKind(std::string_view name) {
    for (const std::string_view prefix : {"loop", "ram", "zram", "fd", "sr"}) {
        if (name.starts_with(prefix) && endsInDigits(name, prefix.size()))
            return DiskKind::virtualDevice;
    }
    if (name.starts_with("dm-") || (name.starts_with("md") && endsInDigits(name, 2)))
        return DiskKind::stacked;
    // sda1, vdb2, hda3, xvda1: letters after the driver's prefix, then the number.
    for (const std::string_view prefix : {"sd", "vd", "hd", "xvd"}) {
        if (!name.starts_with(prefix)) continue;
        std::size_t i = prefix.size();
        while (i < name.size() && std::islower(static_cast<unsigned char>(name[i]))) ++i;
        if (i > prefix.size() && endsInDigits(name, i)) return DiskKind::partition;
    }
    // nvme0n1p2 and mmcblk0p1: the disk's numbers, then p and the partition's.
    for (const std::string_view prefix : {"nvme", "mmcblk"}) {
        if (!name.starts_with(prefix)) continue;
        std::size_t i = prefix.size();
        if (prefix == "nvme" && !startsWithDigitsThen(name, i, 'n')) continue;
        if (startsWithDigitsThen(name, i, 'p') && endsInDigits(name, i)) return DiskKind::partition;
    }
    return DiskKind::whole;
}

std::optional<Pressure> ActivityFiles::pressure(std::string_view resource) {
    // The paths spelt out, so that a tick builds no string.
    static constexpr std::string_view paths[] = {"pressure/cpu", "pressure/memory", "pressure/io"};
    std::string_view path;
    for (const std::string_view p : paths) {
        if (p.substr(9) == resource) path = p;
    }
    const auto text = path.empty() ? std::nullopt : files_.readTick(Fs::proc, path);
    if (!text) return std::nullopt;
    return parsePressure(*text);
}

std::vector<DiskCounters> ActivityFiles::disks() {
    const auto text = files_.readTick(Fs::proc, "diskstats");
    return text ? parseDiskStats(*text) : std::vector<DiskCounters>{};
}

std::vector<MountEntry> ActivityFiles::mounts() {
    const auto text = files_.readTick(Fs::proc, "self/mountinfo");
    return text ? parseMountInfo(*text) : std::vector<MountEntry>{};
}

}  // namespace quillo
