#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quillo/metrics/ProcessUsage.hpp"
#include "quillo/metrics/Sample.hpp"

namespace quillo {

// A flight recorder of the machine's figures, kept in three files of fixed size that are
// written in place as rings:
//   seconds.ring  a point a refresh for 24 hours (86,400 slots);
//   minutes.ring  each minute's minimum, mean and maximum, and the busiest processes of
//                 that minute, for 30 days (43,200 slots);
//   strings.ring  the processes' names and command lines, by a hash of them (4,096 slots).
// 15.5 MiB together, allocated when the files are made, so a full disk later never
// fails a write. Each record carries a CRC-32 of itself and a sequence number: a record
// torn by a kill or a power cut fails its check and is skipped, the others read. The
// slot of a record is its sequence number modulo the ring's size, so the order of the
// points is the sequence's, whatever the wall clock did; each is shown at its wall time.
// One writer at a time holds writer.lock; any number read.

enum class HistoryUnit { percent, load, rate, celsius };

struct HistoryFigure {
    std::string_view name;  // as `quillo history` takes it
    HistoryUnit unit;
};
// The figures of this version's records, in their order; a history written by another
// version names its own in its files' headers, and is read by name.
std::span<const HistoryFigure> historyFigures();
inline constexpr std::size_t historyFigureCount = 16;

// The sample's value of each figure, NaN where it has none: ratios as percentages, rates
// in bytes a second, temperatures in °C.
std::array<double, historyFigureCount> historyValues(const Sample& sample);

// The 16-bit form a figure is stored in: percentages in steps of 1/600, loads of 1/100,
// temperatures of 1/100 °C from −50, rates on a logarithmic scale (0.07 % a step, from 0
// to beyond any bus). NaN, and what the range does not hold, is stored as absent.
std::uint16_t encodeFigure(HistoryUnit unit, double value);
double decodeFigure(HistoryUnit unit, std::uint16_t stored);

struct HistoryProcess {
    std::int64_t pid = 0;
    std::string name, commandLine;  // "?" where the strings ring has since forgotten them
    double cpu = 0;                 // percent of one core over the minute
    std::uint64_t rss = 0;          // bytes
};

struct HistoryPoint {
    std::uint32_t sequence = 0;
    std::int64_t wallMs = 0;  // when it was taken, milliseconds since the epoch
    // One value per figure of historyFigures(), NaN where absent; a minute's means. Single
    // precision holds all that the 16 bits stored resolve, in half the memory of a day.
    std::array<float, historyFigureCount> values{};
};
struct HistoryMinute : HistoryPoint {
    std::array<float, historyFigureCount> minima{}, maxima{};
    std::vector<HistoryProcess> processes;  // the minute's busiest
};

// The wall clock now, in milliseconds since the epoch, as points are stamped.
std::int64_t wallClockMs();

// The folder a user's history is kept in: $XDG_STATE_HOME/quillo/history, else
// ~/.local/state/quillo/history.
std::filesystem::path defaultHistoryFolder();

// Reads a history folder as far as it is sound. Nothing here ever changes the files.
class HistoryReader {
  public:
    explicit HistoryReader(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // The points whose wall time is in [fromMs, toMs], in the order they were taken.
    std::vector<HistoryPoint> seconds(std::int64_t fromMs, std::int64_t toMs);
    // Without their processes, a month reads in a moment.
    std::vector<HistoryMinute> minutes(std::int64_t fromMs, std::int64_t toMs,
                                       bool withProcesses = true);
    // The minute of that sequence number, while the ring still holds it.
    std::optional<HistoryMinute> minute(std::uint32_t sequence);

    // What could not be read and why, one line each ("seconds.ring: made by a newer
    // version of Quillo with another layout").
    const std::vector<std::string>& problems() const { return problems_; }

  private:
    std::filesystem::path folder_;
    std::vector<std::string> problems_;
};

class HistoryWriter {
  public:
    using Clock = std::chrono::steady_clock;

    // Takes the folder's writer lock and opens, or makes, the rings. Absent with *why
    // set when another program holds the lock or the folder cannot be written; a ring
    // that is damaged or of a layout this version cannot write is set aside (renamed
    // with ".set-aside") and *why says so, and a new one is made in its place.
    static std::unique_ptr<HistoryWriter> open(const std::filesystem::path& folder,
                                               std::string* why);
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // A point of the figures at wallMs. The minute's record is written when a point of
    // the next wall minute arrives, with the processes last given.
    void add(std::int64_t wallMs, const std::array<double, historyFigureCount>& values);
    // The busiest processes of the minute under way (at most ten).
    void setProcesses(std::vector<HistoryProcess> processes);
    // Writes the minute under way now and flushes the files to the disk.
    void flush();

    // What went wrong since the last call (a failed write), for the caller to say once.
    std::optional<std::string> takeProblem();

  private:
    struct Rings;
    explicit HistoryWriter(std::unique_ptr<Rings> rings);
    void writeMinute();

    std::unique_ptr<Rings> rings_;
    std::uint32_t nextSecond_ = 1, nextMinute_ = 1;
    // The minute under way.
    std::int64_t minute_ = INT64_MIN;
    std::array<double, historyFigureCount> min_{}, max_{}, sum_{};
    std::array<std::uint32_t, historyFigureCount> count_{};
    std::vector<HistoryProcess> processes_;
    std::optional<std::string> problem_;
};

// What the panels and `quillo record` run: a sample a refresh into the writer, the
// busiest processes once a minute. Reads only what the figures need.
class Recorder {
  public:
    Recorder(LinuxPlatform& platform, std::unique_ptr<HistoryWriter> writer);
    // A point now; the wall time is passed in so that tests can run days in a moment.
    void record(std::int64_t wallMs);
    HistoryWriter& writer() { return *writer_; }

  private:
    LinuxPlatform& platform_;
    Sampler sampler_;
    ProcessUsageReader processes_;
    std::unique_ptr<HistoryWriter> writer_;
    std::int64_t minute_ = INT64_MIN;
};

// What a panel records while it runs: the history's writer whenever no other program
// holds it, asked for again each minute, so that a panel takes over when `quillo record`
// stops. A panel reading a copied tree (--procfs) records nothing: its figures are not
// this machine's.
class PanelRecording {
  public:
    explicit PanelRecording(LinuxPlatform& platform,
                            std::filesystem::path folder = defaultHistoryFolder())
        : platform_(platform), folder_(std::move(folder)) {}
    void tick();
    bool recording() const { return recorder_ != nullptr; }

  private:
    LinuxPlatform& platform_;
    std::filesystem::path folder_;
    std::unique_ptr<Recorder> recorder_;
    std::chrono::steady_clock::time_point nextTry_{};
};

}  // namespace quillo
