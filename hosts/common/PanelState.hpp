#pragma once

#include <filesystem>
#include <optional>

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

    friend bool operator==(const PanelState&, const PanelState&) = default;

    static std::filesystem::path defaultPath();
    // A missing or damaged file is the defaults: a window in the wrong place is no
    // reason to refuse to start.
    static PanelState load(const std::filesystem::path& path);
    // Replaces the file atomically; false when it cannot be written.
    bool save(const std::filesystem::path& path) const;
};

}  // namespace quillo
