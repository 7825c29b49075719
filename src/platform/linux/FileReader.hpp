#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quillo {

// Where procfs and sysfs are mounted; tests point these at fixture trees.
struct FsRoot {
    std::string procfs = "/proc";
    std::string sysfs = "/sys";
};

enum class Fs { proc, sys };

// A growable byte buffer that is not cleared between reads, so that a file read every
// tick costs no allocation and no memset.
class ReadBuffer {
  public:
    std::string_view view() const { return {data_.get(), size_}; }
    std::size_t capacity() const { return capacity_; }
    char* reserve(std::size_t capacity);
    void setSize(std::size_t size) { size_ = size; }

  private:
    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

// Reads whole files under the two roots. Files read often stay open and are read
// again with pread at offset 0, which makes procfs and sysfs generate them afresh:
// a tick then costs one system call per file instead of three. A descriptor that
// fails is closed and the file opened once more, so a battery or interface that went
// away and came back is read again.
class FileReader {
  public:
    explicit FileReader(FsRoot root);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    const FsRoot& root() const { return root_; }

    // The file's bytes in out; false (and out empty) when it cannot be read.
    bool read(Fs fs, std::string_view relative, ReadBuffer& out);
    // The same without keeping a descriptor: for files read once or per process.
    bool readOnce(Fs fs, std::string_view relative, ReadBuffer& out);

    // Names in a folder, "." and ".." left out; links are listed, never followed.
    void forEachEntry(Fs fs, std::string_view relative,
                      const std::function<void(std::string_view name)>& f);

    // The root folder's descriptor for openat; -1 when the root cannot be opened.
    int rootDescriptor(Fs fs) const { return fs == Fs::proc ? procFd_ : sysFd_; }

    // A file larger than this is not kernel text we read.
    static constexpr std::size_t maximumFileSize = 16u << 20;

  private:
    int open(Fs fs, std::string_view relative) const;

    FsRoot root_;
    int procFd_ = -1;
    int sysFd_ = -1;
    std::mutex mutex_;
    std::unordered_map<std::string, int> kept_;
};

// Reads a whole file from a descriptor at offset 0 into out.
bool preadWhole(int fd, ReadBuffer& out, std::size_t limit);

}  // namespace quillo
