#include "quillo/metrics/History.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

namespace quillo {

namespace {

constexpr HistoryFigure figures[] = {
    {"cpu", HistoryUnit::percent},         {"memory", HistoryUnit::percent},
    {"swap", HistoryUnit::percent},        {"disk", HistoryUnit::percent},
    {"download", HistoryUnit::rate},       {"upload", HistoryUnit::rate},
    {"load1", HistoryUnit::load},          {"load5", HistoryUnit::load},
    {"load15", HistoryUnit::load},         {"battery", HistoryUnit::percent},
    {"diskread", HistoryUnit::rate},       {"diskwrite", HistoryUnit::rate},
    {"pressurecpu", HistoryUnit::percent}, {"pressurememory", HistoryUnit::percent},
    {"pressureio", HistoryUnit::percent},  {"temperature", HistoryUnit::celsius},
};
static_assert(std::size(figures) == historyFigureCount);

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr std::uint16_t absent = 0xffff;

// The files' layouts. A header page names the ring and its figures; records follow.
constexpr char magic[8] = {'Q', 'U', 'I', 'L', 'L', 'O', 'H', 'R'};
constexpr std::uint32_t formatVersion = 1;
constexpr std::size_t headerSize = 4096;
constexpr std::size_t processesKept = 10;
constexpr std::size_t processBytes = 14;  // pid, resident KiB, string hash, CPU in tenths
constexpr std::size_t stringBytes = 256;
constexpr std::size_t stringText = stringBytes - 12;

enum class Kind : std::uint32_t { seconds = 1, minutes = 2, strings = 3 };
struct Layout {
    Kind kind;
    const char* file;
    std::uint32_t capacity;
    std::uint32_t recordSize(std::size_t figureCount) const {
        switch (kind) {
            case Kind::seconds:
                return std::uint32_t(16 + 2 * figureCount);
            case Kind::minutes:
                return std::uint32_t(16 + 6 * figureCount + 4 + processesKept * processBytes);
            case Kind::strings:
                return stringBytes;
        }
        return 0;
    }
};
constexpr Layout secondsRing{Kind::seconds, "seconds.ring", 86400};
constexpr Layout minutesRing{Kind::minutes, "minutes.ring", 43200};
constexpr Layout stringsRing{Kind::strings, "strings.ring", 4096};

template <class T>
T load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T>
void store(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

std::uint32_t crcOf(const unsigned char* p, std::size_t n) {
    return std::uint32_t(crc32(crc32(0, nullptr, 0), p, uInt(n)));
}

// A record's check covers everything after the check itself.
bool sound(const unsigned char* record, std::size_t size) {
    return load<std::uint32_t>(record) == crcOf(record + 4, size - 4) &&
           load<std::uint32_t>(record + 4) != 0;
}
void seal(unsigned char* record, std::size_t size) {
    store(record, crcOf(record + 4, size - 4));
}

std::uint32_t hashOf(std::string_view text) {
    const std::uint32_t h = crcOf(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return h == 0 ? 1 : h;  // 0 marks no process
}

// pread or pwrite until the whole range is done: a signal may cut either short.
template <class Io, class Buffer>
bool whole(Io io, int fd, Buffer* data, std::size_t size, off_t at) {
    auto* p =
        reinterpret_cast<std::conditional_t<std::is_const_v<Buffer>, const char, char>*>(data);
    while (size > 0) {
        const ssize_t n = io(fd, p, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
        at += n;
    }
    return true;
}
bool fullWrite(int fd, const void* data, std::size_t size, off_t at) {
    return whole(::pwrite, fd, data, size, at);
}
bool fullRead(int fd, void* data, std::size_t size, off_t at) {
    return whole(::pread, fd, data, size, at);
}

// An open ring: its header's figure names, and where in a record each of ours is.
struct Ring {
    int fd = -1;
    Layout layout{};
    std::uint32_t recordSize = 0;
    std::vector<std::string> names;
    std::vector<int> ours;  // for each of our figures, its index in the file's, or -1

    Ring() = default;
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;
    Ring(Ring&& o) noexcept { *this = std::move(o); }
    Ring& operator=(Ring&& o) noexcept {
        std::swap(fd, o.fd);
        layout = o.layout;
        recordSize = o.recordSize;
        names = std::move(o.names);
        ours = std::move(o.ours);
        return *this;
    }
    ~Ring() {
        if (fd >= 0) ::close(fd);
    }
    off_t at(std::uint32_t sequence) const {
        return off_t(headerSize) + off_t(sequence % layout.capacity) * off_t(recordSize);
    }

    // Every sound record, in file order, to f(record).
    template <class F>
    void scan(F&& f) const {
        // Small enough to stay out of a panel's resident peak; the reads it takes more
        // cost little beside decoding the records.
        constexpr std::size_t chunk = 1 << 15;
        std::vector<unsigned char> buffer(chunk - chunk % recordSize);
        const std::size_t total = std::size_t(layout.capacity) * recordSize;
        for (std::size_t done = 0; done < total;) {
            const std::size_t n = std::min(buffer.size(), total - done);
            if (!fullRead(fd, buffer.data(), n, off_t(headerSize + done))) return;
            for (std::size_t i = 0; i + recordSize <= n; i += recordSize) {
                if (sound(&buffer[i], recordSize)) f(&buffer[i]);
            }
            done += n;
        }
    }
};

std::vector<unsigned char> headerFor(const Layout& layout) {
    std::vector<unsigned char> h(headerSize, 0);
    std::memcpy(h.data(), magic, sizeof magic);
    store(&h[8], formatVersion);
    store(&h[12], std::uint32_t(layout.kind));
    store(&h[16], layout.recordSize(historyFigureCount));
    store(&h[20], layout.capacity);
    store(&h[24], std::uint32_t(historyFigureCount));
    std::size_t at = 28;
    for (const HistoryFigure& f : figures) {
        std::memcpy(&h[at], f.name.data(), f.name.size());
        at += f.name.size() + 1;
    }
    store(&h[headerSize - 4], crcOf(h.data(), headerSize - 4));
    return h;
}

// Opens a ring, reading its header; absent with why set where the file is missing,
// unreadable, damaged or of another kind. A version of another layout is read by the
// sizes and names its header gives.
std::optional<Ring> openRing(const std::filesystem::path& folder, const Layout& layout, int flags,
                             std::string& why) {
    const std::filesystem::path path = folder / layout.file;
    Ring ring;
    ring.fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW);
    if (ring.fd < 0) {
        why = std::string(layout.file) + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<unsigned char> h(headerSize);
    if (!fullRead(ring.fd, h.data(), headerSize, 0) ||
        std::memcmp(h.data(), magic, sizeof magic) != 0 ||
        load<std::uint32_t>(&h[headerSize - 4]) != crcOf(h.data(), headerSize - 4)) {
        why = std::string(layout.file) + ": not a history ring, or its header is damaged";
        return std::nullopt;
    }
    const auto kind = load<std::uint32_t>(&h[12]);
    ring.layout = layout;
    ring.recordSize = load<std::uint32_t>(&h[16]);
    ring.layout.capacity = load<std::uint32_t>(&h[20]);
    const auto count = load<std::uint32_t>(&h[24]);
    std::size_t at = 28;
    for (std::uint32_t i = 0; i < count && at < headerSize - 4; ++i) {
        const auto* start = reinterpret_cast<const char*>(&h[at]);
        const std::size_t length = ::strnlen(start, headerSize - 4 - at);
        ring.names.emplace_back(start, length);
        at += length + 1;
    }
    struct stat st {};
    const std::size_t expected = headerSize + std::size_t(ring.layout.capacity) * ring.recordSize;
    if (kind != std::uint32_t(layout.kind) || ring.names.size() != count ||
        ring.recordSize < layout.recordSize(count) || ring.recordSize > headerSize ||
        ring.layout.capacity == 0 || ::fstat(ring.fd, &st) != 0 ||
        std::size_t(st.st_size) < expected) {
        why = std::string(layout.file) + ": of a layout this version cannot read";
        return std::nullopt;
    }
    for (const HistoryFigure& f : figures) {
        const auto it = std::find(ring.names.begin(), ring.names.end(), f.name);
        ring.ours.push_back(it == ring.names.end() ? -1 : int(it - ring.names.begin()));
    }
    return ring;
}

// Makes a ring whole before it takes the name, so that no reader ever sees half of one.
bool makeRing(const std::filesystem::path& folder, const Layout& layout, std::string& why) {
    const std::filesystem::path path = folder / layout.file;
    const std::filesystem::path temporary = path.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = std::string(layout.file) + ": " + std::strerror(errno);
        return false;
    }
    const std::vector<unsigned char> header = headerFor(layout);
    const off_t size =
        off_t(headerSize) + off_t(layout.capacity) * off_t(layout.recordSize(historyFigureCount));
    // Every block is taken now: a disk that fills up later cannot fail a write.
    const int allocated = ::posix_fallocate(fd, 0, size);
    const bool ok =
        allocated == 0 && fullWrite(fd, header.data(), header.size(), 0) && ::fdatasync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        why = std::string(layout.file) + ": " +
              std::strerror(allocated != 0 ? allocated
                            : errno        ? errno
                                           : EIO);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::int64_t wallOf(const unsigned char* record) {
    return load<std::int64_t>(record + 8);
}

double meanOf(double sum, std::uint32_t count) {
    return count == 0 ? nan : sum / count;
}

}  // namespace

std::span<const HistoryFigure> historyFigures() {
    return figures;
}

std::array<double, historyFigureCount> historyValues(const Sample& s) {
    std::array<double, historyFigureCount> v;
    v.fill(nan);
    const auto set = [&](std::size_t i, std::optional<double> x) {
        if (x) v[i] = *x;
    };
    const auto percent = [](std::optional<double> ratio) -> std::optional<double> {
        return ratio ? std::optional(*ratio * 100.0) : std::nullopt;
    };
    set(0, percent(s.cpu.usedRatio));
    if (s.memory) v[1] = s.memory->usedRatio * 100.0;
    if (s.swap) set(2, percent(s.swap->usedRatio));
    if (s.disk) set(3, percent(s.disk->usedRatio));
    const std::string* primary = s.ipv4 ? &s.ipv4->interface : s.ipv6 ? &s.ipv6->interface : nullptr;
    for (const Sample::Interface& i : s.interfaces) {
        if (primary && i.name == *primary) {
            set(4, i.receivedPerSecond);
            set(5, i.sentPerSecond);
        }
    }
    if (s.load) {
        for (int i = 0; i < std::min(3, s.load->count); ++i)
            v[6 + std::size_t(i)] = s.load->averages[i];
    }
    if (!s.batteries.empty()) set(9, s.batteries.front().chargePercent);
    set(10, s.diskReadBytesPerSecond);
    set(11, s.diskWrittenBytesPerSecond);
    for (const SamplePressure& p : s.pressure) {
        const std::size_t at = p.resource == "cpu" ? 12 : p.resource == "memory" ? 13 : 14;
        if (p.stall.some) v[at] = p.stall.some->avg10;
    }
    for (const SensorReading& r : s.temperatures) {
        if (r.value && isCpuChip(r.chipName) && !(v[15] >= *r.value)) v[15] = *r.value;
    }
    return v;
}

std::uint16_t encodeFigure(HistoryUnit unit, double value) {
    if (!std::isfinite(value)) return absent;
    double scaled = 0;
    switch (unit) {
        case HistoryUnit::percent:
            scaled = value * 600.0;
            break;
        case HistoryUnit::load:
            scaled = value * 100.0;
            break;
        case HistoryUnit::celsius:
            scaled = (value + 50.0) * 100.0;
            break;
        case HistoryUnit::rate:
            scaled = value < 0 ? -1 : std::log2(1.0 + value) * 1024.0;
            break;
    }
    scaled = std::round(scaled);
    return scaled < 0 || scaled >= absent ? absent : std::uint16_t(scaled);
}

double decodeFigure(HistoryUnit unit, std::uint16_t stored) {
    if (stored == absent) return nan;
    switch (unit) {
        case HistoryUnit::percent:
            return stored / 600.0;
        case HistoryUnit::load:
            return stored / 100.0;
        case HistoryUnit::celsius:
            return stored / 100.0 - 50.0;
        case HistoryUnit::rate:
            return std::exp2(stored / 1024.0) - 1.0;
    }
    return nan;
}

std::int64_t wallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::filesystem::path defaultHistoryFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::filesystem::path(state) / "quillo" / "history";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/") / ".local" / "state" / "quillo" /
           "history";
}

// Reading.

std::vector<HistoryPoint> HistoryReader::seconds(std::int64_t fromMs, std::int64_t toMs) {
    std::string why;
    std::optional<Ring> ring = openRing(folder_, secondsRing, O_RDONLY, why);
    if (!ring) {
        // A ring that is there, or may be (a folder this user cannot search), is a problem.
        std::error_code unknown;
        if (std::filesystem::exists(folder_ / secondsRing.file, unknown) || unknown)
            problems_.push_back(why);
        return {};
    }
    std::vector<HistoryPoint> points;
    points.reserve(ring->layout.capacity);
    ring->scan([&](const unsigned char* r) {
        const std::int64_t wall = wallOf(r);
        if (wall < fromMs || wall > toMs) return;
        HistoryPoint& p = points.emplace_back();
        p.sequence = load<std::uint32_t>(r + 4);
        p.wallMs = wall;
        for (std::size_t i = 0; i < historyFigureCount; ++i) {
            const int at = ring->ours[i];
            p.values[i] = float(
                at < 0 ? nan : decodeFigure(figures[i].unit, load<std::uint16_t>(r + 16 + 2 * at)));
        }
    });
    std::sort(points.begin(), points.end(),
              [](const HistoryPoint& a, const HistoryPoint& b) { return a.sequence < b.sequence; });
    return points;
}

namespace {

// A minute's record, with its processes' names from the strings ring where asked for.
HistoryMinute decodeMinute(const Ring& ring, const Ring* strings, const unsigned char* r,
                           bool withProcesses) {
    const std::size_t figureCount = ring.names.size();
    HistoryMinute p;
    p.sequence = load<std::uint32_t>(r + 4);
    p.wallMs = wallOf(r);
    for (std::size_t i = 0; i < historyFigureCount; ++i) {
        const int at = ring.ours[i];
        const auto value = [&](std::size_t which) -> float {
            return at < 0 ? nan
                          : decodeFigure(figures[i].unit,
                                         load<std::uint16_t>(
                                             r + 16 + 2 * (which * figureCount + std::size_t(at))));
        };
        p.minima[i] = value(0);
        p.values[i] = value(1);
        p.maxima[i] = value(2);
    }
    if (!withProcesses) return p;
    std::array<unsigned char, stringBytes> text;
    const unsigned char* entry = r + 16 + 6 * figureCount + 4;
    const std::size_t count = std::min<std::size_t>(r[16 + 6 * figureCount], processesKept);
    for (std::size_t i = 0; i < count; ++i, entry += processBytes) {
        HistoryProcess& process = p.processes.emplace_back();
        process.pid = load<std::uint32_t>(entry);
        process.rss = std::uint64_t(load<std::uint32_t>(entry + 4)) * 1024;
        process.cpu = load<std::uint16_t>(entry + 12) / 10.0;
        const auto hash = load<std::uint32_t>(entry + 8);
        process.name = process.commandLine = "?";
        if (!strings) continue;
        if (fullRead(strings->fd, text.data(), stringBytes, strings->at(hash)) &&
            sound(text.data(), stringBytes) && load<std::uint32_t>(&text[4]) == hash) {
            const std::size_t nameLength = std::min<std::size_t>(text[8], stringText);
            const std::size_t lineLength =
                std::min<std::size_t>(load<std::uint16_t>(&text[10]), stringText - nameLength);
            const auto* chars = reinterpret_cast<const char*>(&text[12]);
            process.name.assign(chars, nameLength);
            process.commandLine.assign(chars + nameLength, lineLength);
        }
    }
    return p;
}

}  // namespace

std::vector<HistoryMinute> HistoryReader::minutes(std::int64_t fromMs, std::int64_t toMs,
                                                  bool withProcesses) {
    std::string why;
    std::optional<Ring> ring = openRing(folder_, minutesRing, O_RDONLY, why);
    if (!ring) {
        // A ring that is there, or may be (a folder this user cannot search), is a problem.
        std::error_code unknown;
        if (std::filesystem::exists(folder_ / minutesRing.file, unknown) || unknown)
            problems_.push_back(why);
        return {};
    }
    std::optional<Ring> strings;
    if (withProcesses) strings = openRing(folder_, stringsRing, O_RDONLY, why);
    std::vector<HistoryMinute> points;
    ring->scan([&](const unsigned char* r) {
        const std::int64_t wall = wallOf(r);
        if (wall < fromMs || wall > toMs) return;
        points.push_back(decodeMinute(*ring, strings ? &*strings : nullptr, r, withProcesses));
    });
    std::sort(points.begin(), points.end(), [](const HistoryMinute& a, const HistoryMinute& b) {
        return a.sequence < b.sequence;
    });
    return points;
}

std::optional<HistoryMinute> HistoryReader::minute(std::uint32_t sequence) {
    std::string why;
    std::optional<Ring> ring = openRing(folder_, minutesRing, O_RDONLY, why);
    if (!ring) return std::nullopt;
    std::optional<Ring> strings = openRing(folder_, stringsRing, O_RDONLY, why);
    std::vector<unsigned char> r(ring->recordSize);
    // The slot may hold a later minute by now, or a torn one.
    if (!fullRead(ring->fd, r.data(), r.size(), ring->at(sequence)) || !sound(r.data(), r.size()) ||
        load<std::uint32_t>(&r[4]) != sequence)
        return std::nullopt;
    return decodeMinute(*ring, strings ? &*strings : nullptr, r.data(), true);
}

// Writing.

struct HistoryWriter::Rings {
    int lock = -1;
    Ring seconds, minutes, strings;
    // The records being made, kept so that a point allocates nothing.
    std::vector<unsigned char> second, minute, text;
    ~Rings() {
        if (lock >= 0) ::close(lock);  // lets the lock go
    }
};

std::unique_ptr<HistoryWriter> HistoryWriter::open(const std::filesystem::path& folder,
                                                   std::string* why) {
    std::string message;
    const auto fail = [&](std::string text) {
        if (why) *why = std::move(text);
        return nullptr;
    };
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    auto rings = std::make_unique<Rings>();
    rings->lock =
        ::open((folder / "writer.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (rings->lock < 0)
        return fail("cannot open " + (folder / "writer.lock").string() + ": " +
                    std::strerror(errno));
    if (::flock(rings->lock, LOCK_EX | LOCK_NB) != 0)
        return fail("another program records the history in " + folder.string());

    std::string setAside;
    for (const auto& [layout, ring] : {std::pair{&secondsRing, &rings->seconds},
                                       {&minutesRing, &rings->minutes},
                                       {&stringsRing, &rings->strings}}) {
        const std::filesystem::path path = folder / layout->file;
        std::optional<Ring> opened;
        if (std::filesystem::exists(path, error)) {
            opened = openRing(folder, *layout, O_RDWR, message);
            // Written over in place only where this version's records fit its layout.
            if (opened &&
                (opened->recordSize != layout->recordSize(historyFigureCount) ||
                 opened->layout.capacity != layout->capacity ||
                 opened->names.size() != historyFigureCount ||
                 std::find(opened->ours.begin(), opened->ours.end(), -1) != opened->ours.end())) {
                message = std::string(layout->file) + ": written by another version";
                opened.reset();
            }
            if (!opened) {
                const std::filesystem::path aside = path.string() + ".set-aside";
                std::filesystem::rename(path, aside, error);
                setAside += (setAside.empty() ? "" : "; ") + message + ", set aside as " +
                            aside.filename().string();
            }
        }
        if (!opened) {
            if (!makeRing(folder, *layout, message))
                return fail("cannot make the history: " + message);
            opened = openRing(folder, *layout, O_RDWR, message);
            if (!opened) return fail("cannot open the history: " + message);
        }
        *ring = std::move(*opened);
    }

    rings->second.resize(rings->seconds.recordSize);
    rings->minute.resize(rings->minutes.recordSize);
    rings->text.resize(stringBytes);
    auto writer = std::unique_ptr<HistoryWriter>(new HistoryWriter(std::move(rings)));
    // Sequences go on from the last sound record: a torn one is written over.
    for (auto [ring, next] : {std::pair{&writer->rings_->seconds, &writer->nextSecond_},
                              {&writer->rings_->minutes, &writer->nextMinute_}}) {
        std::uint32_t last = 0;
        ring->scan(
            [&](const unsigned char* r) { last = std::max(last, load<std::uint32_t>(r + 4)); });
        *next = last + 1;
    }
    if (why) *why = setAside;
    return writer;
}

HistoryWriter::HistoryWriter(std::unique_ptr<Rings> rings) : rings_(std::move(rings)) {}

HistoryWriter::~HistoryWriter() {
    flush();
}

void HistoryWriter::add(std::int64_t wallMs, const std::array<double, historyFigureCount>& values) {
    const std::int64_t minute = wallMs >= 0 ? wallMs / 60000 : (wallMs - 59999) / 60000;
    if (minute != minute_) {
        writeMinute();
        minute_ = minute;
    }
    std::vector<unsigned char>& record = rings_->second;
    std::fill(record.begin(), record.end(), 0);
    store(&record[4], nextSecond_);
    store(&record[8], wallMs);
    for (std::size_t i = 0; i < historyFigureCount; ++i) {
        store(&record[16 + 2 * i], encodeFigure(figures[i].unit, values[i]));
        if (!std::isfinite(values[i])) continue;
        if (count_[i] == 0 || values[i] < min_[i]) min_[i] = values[i];
        if (count_[i] == 0 || values[i] > max_[i]) max_[i] = values[i];
        sum_[i] += values[i];
        ++count_[i];
    }
    seal(record.data(), record.size());
    if (fullWrite(rings_->seconds.fd, record.data(), record.size(),
                  rings_->seconds.at(nextSecond_))) {
        ++nextSecond_;
    } else {
        problem_ = std::string("cannot write the history: ") + std::strerror(errno);
    }
    if (nextSecond_ == 0) nextSecond_ = 1;
}

void HistoryWriter::setProcesses(std::vector<HistoryProcess> processes) {
    if (processes.size() > processesKept) processes.resize(processesKept);
    processes_ = std::move(processes);
}

void HistoryWriter::writeMinute() {
    if (minute_ == INT64_MIN) return;
    Ring& ring = rings_->minutes;
    std::vector<unsigned char>& record = rings_->minute;
    std::fill(record.begin(), record.end(), 0);
    store(&record[4], nextMinute_);
    store(&record[8], minute_ * 60000);
    for (std::size_t i = 0; i < historyFigureCount; ++i) {
        const auto& unit = figures[i].unit;
        const bool any = count_[i] > 0;
        store(&record[16 + 2 * i], encodeFigure(unit, any ? min_[i] : nan));
        store(&record[16 + 2 * (historyFigureCount + i)],
              encodeFigure(unit, meanOf(sum_[i], count_[i])));
        store(&record[16 + 2 * (2 * historyFigureCount + i)],
              encodeFigure(unit, any ? max_[i] : nan));
    }
    unsigned char* entry = &record[16 + 6 * historyFigureCount + 4];
    record[16 + 6 * historyFigureCount] = std::uint8_t(processes_.size());
    std::vector<unsigned char>& text = rings_->text;
    for (const HistoryProcess& p : processes_) {
        const std::string name = p.name.substr(0, 64);
        const std::string line =
            p.commandLine.substr(0, stringText - name.size());  // cut, not refused
        const std::uint32_t hash = hashOf(name + '\0' + line);
        store(entry, std::uint32_t(p.pid));
        store(entry + 4, std::uint32_t(std::min<std::uint64_t>(p.rss / 1024, UINT32_MAX)));
        store(entry + 8, hash);
        store(entry + 12, std::uint16_t(std::clamp(std::round(p.cpu * 10.0), 0.0, 65535.0)));
        entry += processBytes;
        // The strings ring keeps the last text of each hash's slot.
        std::fill(text.begin(), text.end(), 0);
        store(&text[4], hash);
        text[8] = std::uint8_t(name.size());
        store(&text[10], std::uint16_t(line.size()));
        std::memcpy(&text[12], name.data(), name.size());
        std::memcpy(&text[12 + name.size()], line.data(), line.size());
        seal(text.data(), stringBytes);
        if (!fullWrite(rings_->strings.fd, text.data(), stringBytes, rings_->strings.at(hash)))
            problem_ = std::string("cannot write the history: ") + std::strerror(errno);
    }
    seal(record.data(), record.size());
    if (fullWrite(ring.fd, record.data(), record.size(), ring.at(nextMinute_))) {
        if (++nextMinute_ == 0) nextMinute_ = 1;
    } else {
        problem_ = std::string("cannot write the history: ") + std::strerror(errno);
    }
    min_.fill(0);
    max_.fill(0);
    sum_.fill(0);
    count_.fill(0);
    processes_.clear();
    // Once a minute to the disk: a power cut loses at most the minute under way.
    for (const Ring* r : {&rings_->seconds, &rings_->minutes, &rings_->strings}) ::fdatasync(r->fd);
}

void HistoryWriter::flush() {
    writeMinute();
    minute_ = INT64_MIN;
}

std::optional<std::string> HistoryWriter::takeProblem() {
    return std::exchange(problem_, std::nullopt);
}

// The recorder.

Recorder::Recorder(LinuxPlatform& platform, std::unique_ptr<HistoryWriter> writer)
    : platform_(platform), sampler_(platform), writer_(std::move(writer)) {}

void Recorder::record(std::int64_t wallMs) {
    constexpr unsigned parts = Sample::Part::cpu | Sample::Part::memory | Sample::Part::swap |
                               Sample::Part::disk | Sample::Part::network | Sample::Part::system |
                               Sample::Part::power | Sample::Part::pressure | Sample::Part::diskIo |
                               Sample::Part::sensors;
    const Sample s = sampler_.take(nullptr, parts);
    const std::int64_t minute = wallMs / 60000;
    if (minute != minute_) {
        // The busiest of the minute that ends, over that minute.
        std::vector<ProcessUsage> all = processes_.sample();
        if (minute_ != INT64_MIN) {
            std::vector<HistoryProcess> kept;
            for (const UsageOrder order : {UsageOrder::cpu, UsageOrder::memory}) {
                for (const ProcessUsage& u : busiest(all, order, 5)) {
                    if (std::any_of(kept.begin(), kept.end(),
                                    [&](const HistoryProcess& k) { return k.pid == u.pid; }))
                        continue;
                    kept.push_back(
                        {u.pid, u.command,
                         platform_.processes().commandLine(std::int32_t(u.pid)).value_or(""), u.cpu,
                         u.rss});
                }
            }
            writer_->setProcesses(std::move(kept));
        }
        minute_ = minute;
    }
    writer_->add(wallMs, historyValues(s));
}

void PanelRecording::tick() {
    if (!platform_.readsTheKernel()) return;
    const auto now = std::chrono::steady_clock::now();
    if (!recorder_ && now >= nextTry_) {
        nextTry_ = now + std::chrono::minutes(1);
        if (auto writer = HistoryWriter::open(folder_, nullptr))
            recorder_ = std::make_unique<Recorder>(platform_, std::move(writer));
    }
    if (!recorder_) return;
    recorder_->record(wallClockMs());
}

}  // namespace quillo
