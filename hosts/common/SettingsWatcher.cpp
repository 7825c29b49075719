#include "common/SettingsWatcher.hpp"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace quillo {

namespace {

constexpr std::uint32_t events = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                 IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

SettingsWatcher::SettingsWatcher(std::filesystem::path suite) : suite_(std::move(suite)) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    arm();
}

SettingsWatcher::~SettingsWatcher() {
    if (fd_ >= 0) ::close(fd_);
}

void SettingsWatcher::arm() {
    if (fd_ < 0) return;
    // Watches are added before the old ones go: a folder watched again keeps its watch,
    // and only a removed one reports itself ignored, under a number no longer known.
    std::map<int, std::string> previous = std::move(watches_);
    watches_.clear();
    std::vector<std::filesystem::path> files{suite_};
    std::error_code ec;
    if (std::filesystem::is_symlink(suite_, ec)) {
        const auto target = std::filesystem::weakly_canonical(suite_, ec);
        if (!ec) files.push_back(target);
    }
    for (std::filesystem::path file : files) {
        // The nearest folder that exists, for the name on the way to the file: the writer
        // creates the rest.
        for (;;) {
            const std::filesystem::path folder = file.parent_path();
            const int w = ::inotify_add_watch(fd_, folder.c_str(), events | IN_ONLYDIR);
            if (w >= 0) {
                watches_[w] = file.filename();
                break;
            }
            if (errno != ENOENT || folder.empty() || folder == folder.parent_path()) break;
            file = folder;
        }
    }
    for (const auto& [w, name] : previous) {
        if (!watches_.count(w)) ::inotify_rm_watch(fd_, w);
    }
}

bool SettingsWatcher::changed() {
    if (fd_ < 0) return false;
    alignas(inotify_event) char buffer[4096];
    bool concerned = false;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {  // lost events may hide anything
                concerned = true;
                continue;
            }
            const auto it = watches_.find(event->wd);
            if (it == watches_.end()) continue;  // a watch this watcher gave up
            // A watched folder that went, or the one name that matters.
            if ((event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) ||
                (event->len > 0 && it->second == event->name))
                concerned = true;
        }
    }
    // The file, a link or a folder on the way may have come or gone: the watches follow.
    if (concerned) arm();
    return concerned;
}

}  // namespace quillo
