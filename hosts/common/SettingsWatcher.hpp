#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace quillo {

// Tells a host that the settings file may have changed, so that a new refresh rate takes
// effect at once rather than at the next tick (a day away at the slowest). inotify on the
// file's folder, as writers replace the file by rename, and on its link target's folder;
// while the folder does not exist yet, on the nearest folder above it. Costs nothing while
// the settings stand still.
class SettingsWatcher {
  public:
    explicit SettingsWatcher(std::filesystem::path suite);
    ~SettingsWatcher();
    SettingsWatcher(const SettingsWatcher&) = delete;
    SettingsWatcher& operator=(const SettingsWatcher&) = delete;

    // -1 when inotify cannot be had; the hosts then rely on the check at every tick.
    int descriptor() const { return fd_; }

    // Reads every waiting event without blocking; true when one concerns the file (other
    // files of a busy ~/.config are no reason to read the settings again).
    bool changed();

  private:
    void arm();

    std::filesystem::path suite_;
    int fd_ = -1;
    std::map<int, std::string> watches_;  // each watched folder's one name that matters
};

}  // namespace quillo
