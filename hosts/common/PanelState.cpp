#include "common/PanelState.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "quillo/platform/Io.hpp"
#include "quillo/settings/SettingsSuite.hpp"

namespace quillo {

std::filesystem::path PanelState::defaultPath() {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    const std::filesystem::path base =
        xdg && xdg[0] == '/' ? std::filesystem::path(xdg) : homeFolder() / ".local" / "state";
    return base / "quillo" / "panel.json";
}

PanelState PanelState::load(const std::filesystem::path& path) {
    PanelState state;
    const SettingsFile file = readSettingsFile(path, 1 << 16);
    if (file.status != SettingsFile::Status::read) return state;
    const auto json = nlohmann::json::parse(file.text, nullptr, false);
    if (!json.is_object()) return state;
    const auto number = [&](const char* key) -> std::optional<int> {
        const auto it = json.find(key);
        if (it == json.end() || !it->is_number_integer()) return std::nullopt;
        const auto v = it->get<long long>();
        if (v < -100000 || v > 100000) return std::nullopt;
        return int(v);
    };
    const auto flag = [&](const char* key, bool fallback) {
        const auto it = json.find(key);
        return it != json.end() && it->is_boolean() ? it->get<bool>() : fallback;
    };
    state.x = number("x");
    state.y = number("y");
    state.width = std::max(0, number("width").value_or(0));
    state.height = std::max(0, number("height").value_or(0));
    state.keepOnTop = flag("keepOnTop", false);
    state.allDesktops = flag("allDesktops", false);
    state.frameless = flag("frameless", false);
    state.trayFigures = flag("trayFigures", true);
    return state;
}

bool PanelState::save(const std::filesystem::path& path) const {
    nlohmann::json json = {{"width", width},         {"height", height},
                           {"keepOnTop", keepOnTop}, {"allDesktops", allDesktops},
                           {"frameless", frameless}, {"trayFigures", trayFigures}};
    if (x) json["x"] = *x;
    if (y) json["y"] = *y;
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const std::string temporary = path.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = writeAll(fd, json.dump(2) + "\n");
    ::close(fd);
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace quillo
