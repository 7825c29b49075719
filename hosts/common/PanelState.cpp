#include "common/PanelState.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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
    if (const auto places = json.find("places"); places != json.end() && places->is_object()) {
        for (const auto& [name, at] : places->items()) {
            if (at.is_array() && at.size() == 2 && at[0].is_number_integer() &&
                at[1].is_number_integer() && std::abs(at[0].get<long long>()) <= 100000 &&
                std::abs(at[1].get<long long>()) <= 100000)
                state.places[name] = {at[0].get<int>(), at[1].get<int>()};
        }
    }
    if (const auto screen = json.find("screen"); screen != json.end() && screen->is_string())
        state.screen = screen->get<std::string>();
    return state;
}

std::optional<std::pair<int, int>> PanelState::placeAmong(
    const std::vector<std::string>& present) const {
    const auto on = [&](const std::string& name) -> std::optional<std::pair<int, int>> {
        const auto place = places.find(name);
        if (place == places.end()) return std::nullopt;
        return place->second;
    };
    if (std::find(present.begin(), present.end(), screen) != present.end())
        if (const auto place = on(screen)) return place;
    for (const std::string& name : present)
        if (const auto place = on(name)) return place;
    return std::nullopt;
}

void PanelState::remember(const std::string& screenName, int atX, int atY) {
    x = atX;
    y = atY;
    screen = screenName;
    places[screenName] = {atX, atY};
}

bool PanelState::save(const std::filesystem::path& path) const {
    nlohmann::json json = {{"width", width},         {"height", height},
                           {"keepOnTop", keepOnTop}, {"allDesktops", allDesktops},
                           {"frameless", frameless}, {"trayFigures", trayFigures}};
    if (x) json["x"] = *x;
    if (y) json["y"] = *y;
    if (!places.empty()) {
        json["places"] = nlohmann::json::object();
        for (const auto& [name, at] : places) json["places"][name] = {at.first, at.second};
        json["screen"] = screen;
    }
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
