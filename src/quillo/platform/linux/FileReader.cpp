#include "quillo/platform/linux/FileReader.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "quillo/platform/Debug.hpp"

namespace quillo {

namespace {

// Many procfs and sysfs files report a size of 0 or 4096, whatever they hold, so the
// size is learnt by reading.
constexpr std::size_t initialBuffer = 4096;
constexpr std::size_t maximumKept = 512;

}  // namespace

std::string_view describe(ReadFailure failure) {
    switch (failure) {
        case ReadFailure::none:
            return "read";
        case ReadFailure::missing:
            return "missing";
        case ReadFailure::unreadable:
            return "unreadable";
        case ReadFailure::notRegular:
            return "not a regular file";
        case ReadFailure::tooLarge:
            return "too large";
    }
    return "unreadable";
}

ReadBuffer& tickBuffer() {
    thread_local ReadBuffer buffer;
    return buffer;
}

char* ReadBuffer::grow(std::size_t capacity) {
    if (capacity > capacity_) {
        auto larger = std::make_unique_for_overwrite<char[]>(capacity);
        if (size_ > 0) std::memcpy(larger.get(), data_.get(), size_);
        data_ = std::move(larger);
        capacity_ = capacity;
    }
    return data_.get();
}

int openRegular(int dir, const char* relative, ReadFailure& failure) {
    const int fd = ::openat(dir, relative, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        failure =
            errno == ENOENT || errno == ENOTDIR ? ReadFailure::missing : ReadFailure::unreadable;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        failure = ReadFailure::notRegular;
        return -1;
    }
    return fd;
}

bool readToEnd(int fd, ReadBuffer& out, std::size_t limit) {
    std::size_t capacity = std::max(out.capacity(), initialBuffer);
    out.setSize(0);
    char* data = out.grow(capacity);
    std::size_t size = 0;
    for (;;) {
        if (size == capacity) {
            if (capacity >= limit) {
                out.fail(ReadFailure::tooLarge);
                return false;
            }
            capacity = std::min(capacity * 2, limit);
            out.setSize(size);
            data = out.grow(capacity);
        }
        const ssize_t n = ::pread(fd, data + size, capacity - size, off_t(size));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            out.fail(ReadFailure::unreadable);
            return false;
        }
        if (n == 0) break;
        size += std::size_t(n);
    }
    out.setSize(size);
    out.succeed();
    return true;
}

FileReader::FileReader(FsRoot root) : root_(std::move(root)) {
    procFd_ = ::open(root_.procfs.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    sysFd_ = ::open(root_.sysfs.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const auto mountedAs = [](int fd, long magic) {
        struct statfs fs {};
        return fd >= 0 && ::fstatfs(fd, &fs) == 0 && long(fs.f_type) == magic;
    };
    kernel_[0] = mountedAs(procFd_, PROC_SUPER_MAGIC);
    kernel_[1] = mountedAs(sysFd_, SYSFS_MAGIC);
}

FileReader::~FileReader() {
    for (const Kept& kept : kept_) {
        for (const auto& [name, file] : kept) {
            if (file.fd >= 0) ::close(file.fd);
        }
    }
    for (const auto& folders : keptFolders_)
        for (const auto& [name, fd] : folders)
            if (fd >= 0) ::close(fd);
    if (procFd_ >= 0) ::close(procFd_);
    if (sysFd_ >= 0) ::close(sysFd_);
}

int FileReader::open(Fs fs, std::string_view relative, ReadBuffer& out) const {
    const int dir = rootDescriptor(fs);
    ReadFailure failure = ReadFailure::missing;
    const int fd = dir < 0 ? -1 : openRegular(dir, std::string(relative).c_str(), failure);
    if (fd < 0) out.fail(failure);
    return fd;
}

bool FileReader::readOnce(Fs fs, std::string_view relative, ReadBuffer& out) {
    const int fd = open(fs, relative, out);
    if (fd < 0) return false;
    const bool ok = readToEnd(fd, out, maximumFileSize);
    ::close(fd);
    return ok;
}

bool FileReader::read(Fs fs, std::string_view relative, ReadBuffer& out) {
    if (!isKernel(fs)) return readOnce(fs, relative, out);
    Kept& kept = kept_[fs == Fs::proc ? 0 : 1];
    std::lock_guard lock(mutex_);
    auto it = kept.find(relative);
    if (it != kept.end()) {
        if (it->second.fd < 0) {
            if (std::chrono::steady_clock::now() < it->second.retryAt) {
                out.fail(ReadFailure::missing);
                return false;
            }
        } else if (readToEnd(it->second.fd, out, maximumFileSize)) {
            return true;
        } else {
            ::close(it->second.fd);
        }
        it->second.fd = -1;
    } else if (kept.size() < maximumKept) {
        it = kept.emplace(relative, KeptFile{}).first;
    }
    const int fd = open(fs, relative, out);
    const bool ok = fd >= 0 && readToEnd(fd, out, maximumFileSize);
    if (it == kept.end() || (fd >= 0 && !ok) || (fd < 0 && out.failure() != ReadFailure::missing)) {
        // Unkept: no room, or a file that is there but cannot be read is tried afresh.
        if (fd >= 0) ::close(fd);
        if (it != kept.end()) kept.erase(it);
        return ok;
    }
    it->second.fd = fd;
    if (fd < 0) it->second.retryAt = std::chrono::steady_clock::now() + missingRetry;
    return ok;
}

std::optional<std::string_view> FileReader::readTick(Fs fs, std::string_view relative) {
    ReadBuffer& text = tickBuffer();
    if (read(fs, relative, text)) return text.view();
    debug::note(relative, describe(text.failure()));
    return std::nullopt;
}

namespace {

// Lists an open folder from its start with getdents64 itself: readdir's stream would add
// a stat, two fcntl calls and an allocation to every listing. False when it cannot be read.
bool listFolder(int fd, const std::function<void(std::string_view name)>& f, std::size_t limit) {
    if (::lseek(fd, 0, SEEK_SET) != 0) return false;
    alignas(dirent64) char buffer[16384];
    std::size_t listed = 0;
    for (;;) {
        const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (++listed > limit) return true;
            f(name);
        }
    }
}

}  // namespace

int FileReader::openFolder(Fs fs, std::string_view relative) const {
    const int dir = rootDescriptor(fs);
    if (dir < 0) return -1;
    return ::openat(dir, relative.empty() ? "." : std::string(relative).c_str(),
                    O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
}

void FileReader::forEachEntry(Fs fs, std::string_view relative,
                              const std::function<void(std::string_view name)>& f,
                              std::size_t limit) {
    const int fd = openFolder(fs, relative);
    if (fd < 0) return;
    listFolder(fd, f, limit);
    ::close(fd);
}

void FileReader::forEachEntryTick(Fs fs, std::string_view relative,
                                  const std::function<void(std::string_view name)>& f,
                                  std::size_t limit) {
    // The descriptor is taken from the map while it is listed, so that f may use this
    // reader and two threads never share a folder's position.
    if (!isKernel(fs)) return forEachEntry(fs, relative, f, limit);
    auto& kept = keptFolders_[fs == Fs::proc ? 0 : 1];
    int fd = -1;
    {
        std::lock_guard lock(mutex_);
        if (const auto it = kept.find(relative); it != kept.end())
            fd = std::exchange(it->second, -1);
    }
    if (fd >= 0 && !listFolder(fd, f, limit)) {
        ::close(fd);
        fd = -1;
    } else if (fd < 0) {
        fd = openFolder(fs, relative);
        if (fd < 0) return;
        listFolder(fd, f, limit);
    }
    if (fd < 0) return;
    std::lock_guard lock(mutex_);
    if (const auto it = kept.find(relative); it != kept.end() && it->second < 0) {
        it->second = fd;
    } else if (it == kept.end() && kept.size() < maximumKept) {
        kept.emplace(std::string(relative), fd);
    } else {
        ::close(fd);  // another thread's descriptor is kept
    }
}

}  // namespace quillo
