#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillo {

// The desktop panel's own memory between runs: where its window was and the choices
// made in its menu. It lives apart from the shared settings suite, which keeps only its
// documented keys, in $XDG_STATE_HOME/quillo/panel.json (~/.local/state by default),
// as the XDG rules place state that is not worth backing up.
struct PanelState {
    std::optional<int> x, y;
    int width = 0, height = 0;  // 0: the panel's own size
    bool keepOnTop = false;
    bool allDesktops = false;
    bool frameless = false;
    bool trayFigures = true;  // the tray icon shows CPU and memory
    // The place last chosen on each screen, by the screen's name ("eDP-1", "HDMI-1"),
    // and the screen the window was last placed on.
    std::map<std::string, std::pair<int, int>> places;
    std::string screen;

    friend bool operator==(const PanelState&, const PanelState&) = default;

    // Where the window goes among the screens present (their names, the primary first):
    // its place on the screen it was last placed on where that one is present, else its
    // place on the first present screen it has one on; absent where it has none.
    std::optional<std::pair<int, int>> placeAmong(const std::vector<std::string>& present) const;
    void remember(const std::string& screenName, int x, int y);

    static std::filesystem::path defaultPath();
    // A missing or damaged file is the defaults: a window in the wrong place is no
    // reason to refuse to start.
    static PanelState load(const std::filesystem::path& path);
    // Replaces the file atomically; false when it cannot be written.
    bool save(const std::filesystem::path& path) const;
};

}  // namespace quillo
