#include "platform/linux/FileReader.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillo {

namespace {

// Many procfs and sysfs files report a size of 0 or 4096, whatever they hold, so the
// size is learnt by reading.
constexpr std::size_t initialBuffer = 4096;
constexpr std::size_t maximumKept = 512;

std::string key(Fs fs, std::string_view relative) {
    std::string k(1, fs == Fs::proc ? 'p' : 's');
    k.append(relative);
    return k;
}

}  // namespace

char* ReadBuffer::reserve(std::size_t capacity) {
    if (capacity > capacity_) {
        data_ = std::make_unique_for_overwrite<char[]>(capacity);
        capacity_ = capacity;
    }
    size_ = 0;
    return data_.get();
}

bool preadWhole(int fd, ReadBuffer& out, std::size_t limit) {
    std::size_t capacity = std::max(out.capacity(), initialBuffer);
    for (;;) {
        char* data = out.reserve(capacity);
        ssize_t n;
        do {
            n = ::pread(fd, data, capacity, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) return false;
        // procfs and sysfs fill the whole buffer unless the text has ended, so a short
        // read is the end; a full one may not be, and is read again in a larger buffer.
        if (std::size_t(n) < capacity) {
            out.setSize(std::size_t(n));
            return true;
        }
        if (capacity >= limit) return false;
        capacity *= 2;
    }
}

FileReader::FileReader(FsRoot root) : root_(std::move(root)) {
    procFd_ = ::open(root_.procfs.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    sysFd_ = ::open(root_.sysfs.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

FileReader::~FileReader() {
    for (const auto& [name, fd] : kept_) ::close(fd);
    if (procFd_ >= 0) ::close(procFd_);
    if (sysFd_ >= 0) ::close(sysFd_);
}

int FileReader::open(Fs fs, std::string_view relative) const {
    const int dir = rootDescriptor(fs);
    if (dir < 0) return -1;
    return ::openat(dir, std::string(relative).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

bool FileReader::readOnce(Fs fs, std::string_view relative, ReadBuffer& out) {
    const int fd = open(fs, relative);
    if (fd < 0) {
        out.setSize(0);
        return false;
    }
    const bool ok = preadWhole(fd, out, maximumFileSize);
    ::close(fd);
    return ok;
}

bool FileReader::read(Fs fs, std::string_view relative, ReadBuffer& out) {
    const std::string k = key(fs, relative);
    std::lock_guard lock(mutex_);
    if (const auto it = kept_.find(k); it != kept_.end()) {
        if (preadWhole(it->second, out, maximumFileSize)) return true;
        ::close(it->second);
        kept_.erase(it);
    }
    const int fd = open(fs, relative);
    if (fd < 0) {
        out.setSize(0);
        return false;
    }
    const bool ok = preadWhole(fd, out, maximumFileSize);
    if (ok && kept_.size() < maximumKept) {
        kept_.emplace(k, fd);
    } else {
        ::close(fd);
    }
    return ok;
}

void FileReader::forEachEntry(Fs fs, std::string_view relative,
                              const std::function<void(std::string_view name)>& f) {
    const int dir = rootDescriptor(fs);
    if (dir < 0) return;
    const int fd = ::openat(dir, relative.empty() ? "." : std::string(relative).c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(d)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") f(name);
    }
    ::closedir(d);
}

}  // namespace quillo
