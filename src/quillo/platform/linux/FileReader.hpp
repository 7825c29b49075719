#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace quillo {

// Where procfs and sysfs are mounted; tests point these at fixture trees.
struct FsRoot {
    std::string procfs = "/proc";
    std::string sysfs = "/sys";
};

enum class Fs { proc, sys };

// Why a read gave nothing, for the debug notes.
enum class ReadFailure { none, missing, unreadable, notRegular, tooLarge };
std::string_view describe(ReadFailure failure);

// A growable byte buffer that is not cleared between reads, so that a file read every
// tick costs no allocation and no memset.
class ReadBuffer {
  public:
    std::string_view view() const { return {data_.get(), size_}; }
    std::size_t capacity() const { return capacity_; }
    ReadFailure failure() const { return failure_; }

    // Room for at least capacity bytes; what the buffer held is kept.
    char* grow(std::size_t capacity);
    void setSize(std::size_t size) { size_ = size; }
    void fail(ReadFailure why) {
        size_ = 0;
        failure_ = why;
    }
    void succeed() { failure_ = ReadFailure::none; }

  private:
    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    ReadFailure failure_ = ReadFailure::none;
};

// Reads whole files under the two roots. Files of the kernel's own procfs and sysfs read
// every tick stay open and are read again from offset 0, which makes the kernel generate
// them afresh: a tick then costs no open and close per file. A copied tree's files are
// opened at each read, so that one replaced by rename is seen. A descriptor that fails is
// closed and the file opened once more, so a battery or interface that went away and came
// back is read again. A file found missing is looked for again only after missingRetry: a failed
// lookup costs more than a read (cpufreq on a virtual machine, an attribute a battery
// does not have), and such files appear when a driver loads, not between two ticks. Only regular
// files are read (procfs and sysfs files are), opened without blocking, so a FIFO or a device
// planted in a root reads as unreadable instead of hanging the reader.
class FileReader {
  public:
    explicit FileReader(FsRoot root);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    const FsRoot& root() const { return root_; }

    // The file's bytes in out; false (out empty, its failure set) when it cannot be read.
    bool read(Fs fs, std::string_view relative, ReadBuffer& out);
    // A file read every tick, in this thread's tick buffer: its text stays valid until
    // the thread's next such read. Absent, with the reason noted for the debug switch,
    // when it cannot be read.
    std::optional<std::string_view> readTick(Fs fs, std::string_view relative);
    // The same without keeping a descriptor: for files read once or rarely.
    bool readOnce(Fs fs, std::string_view relative, ReadBuffer& out);

    // Names in a folder, "." and ".." left out, at most limit of them; links are listed,
    // never followed.
    void forEachEntry(Fs fs, std::string_view relative,
                      const std::function<void(std::string_view name)>& f,
                      std::size_t limit = maximumEntries);

    // The same for a folder listed every tick that never goes away (procfs itself, a
    // sysfs class): it stays open and is listed again from its start.
    void forEachEntryTick(Fs fs, std::string_view relative,
                          const std::function<void(std::string_view name)>& f,
                          std::size_t limit = maximumEntries);

    // The root folder's descriptor for openat; -1 when the root cannot be opened.
    int rootDescriptor(Fs fs) const { return fs == Fs::proc ? procFd_ : sysFd_; }
    // Whether the root is a mount of the kernel's own procfs or sysfs, not a copied tree.
    bool isKernel(Fs fs) const { return kernel_[fs == Fs::proc ? 0 : 1]; }

    // A file larger than this is not kernel text we read.
    static constexpr std::size_t maximumFileSize = 16u << 20;
    // No folder of power supplies, thermal zones or interfaces is this large (procfs
    // itself, with a folder per process, is listed with the processes' own bound).
    static constexpr std::size_t maximumEntries = 1u << 16;
    static constexpr std::chrono::milliseconds missingRetry{1000};

  private:
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    // An open descriptor, or -1 for a file found missing, not looked for before retryAt.
    struct KeptFile {
        int fd = -1;
        std::chrono::steady_clock::time_point retryAt;
    };
    using Kept = std::unordered_map<std::string, KeptFile, NameHash, std::equal_to<>>;

    int open(Fs fs, std::string_view relative, ReadBuffer& out) const;
    int openFolder(Fs fs, std::string_view relative) const;

    FsRoot root_;
    int procFd_ = -1;
    int sysFd_ = -1;
    bool kernel_[2] = {false, false};
    std::mutex mutex_;
    Kept kept_[2];
    // Open folders by name; -1 while one is being listed, so that two threads never share
    // a folder's position.
    std::unordered_map<std::string, int, NameHash, std::equal_to<>> keptFolders_[2];
};

// One buffer per thread for the files read on every tick, so that a tick allocates
// nothing once warm. Only for a read whose text is used before the next such read.
ReadBuffer& tickBuffer();

// Opens a regular file under a folder descriptor without blocking; -1 with failure
// set otherwise.
int openRegular(int dir, const char* relative, ReadFailure& failure);

// Reads from offset 0 until the file says it has ended, as a multi-record procfs file
// returns about a page of whole lines per read whatever the buffer's size.
bool readToEnd(int fd, ReadBuffer& out, std::size_t limit);

}  // namespace quillo
