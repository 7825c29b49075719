#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

class Configuration;

// The rows a panel may show, in the words of the Rows setting.
enum class PanelRow {
    cpu,
    cores,
    memory,
    swap,
    pressure,
    disk,
    filesystems,
    diskio,
    network,
    interfaces,
    load,
    uptime,
    temperatures,
    fans,
    battery
};

inline constexpr std::array<std::string_view, 15> panelRowNames = {
    "cpu",     "cores",      "memory", "swap",   "pressure",     "disk", "filesystems", "diskio",
    "network", "interfaces", "load",   "uptime", "temperatures", "fans", "battery"};
static_assert(panelRowNames.size() == std::size_t(PanelRow::battery) + 1 &&
                  panelRowNames.back() == "battery",
              "one name for each row, in the rows' order");

std::string_view name(PanelRow row);
std::optional<PanelRow> panelRowNamed(std::string_view name);

// The panel the settings do not change: the rows of the compact panel, in its order.
const std::vector<PanelRow>& defaultPanelRows();

// What the user typed ("cpu,swap,memory") as the rows in that order; throws SuiteError
// naming the word that is no row (with the nearest one), a row named twice, or an empty
// list.
std::vector<PanelRow> parsePanelRows(std::string_view typed);
std::string panelRowsText(const std::vector<PanelRow>& rows);

// The rows the stored setting chooses. Names this version does not know (a newer one's)
// are passed over, and a row named again is shown once; a stored value that leaves no row
// at all, or is no list of names, gives the default panel.
std::vector<PanelRow> chosenPanelRows(const Configuration& config);

inline constexpr std::string_view rowsKey = "Rows";

// What the filesystems and interfaces rows list: the mount points or interface names
// chosen, in order, or every one (the word "all", stored as ["all"], and the default).
inline constexpr std::string_view fileSystemsKey = "FileSystems";
inline constexpr std::string_view interfacesKey = "Interfaces";

// Which cgroup's limits the figures are measured against: "auto" (this process's, the
// default), "host" (none: the machine's figures) or a cgroup's path as procfs
// self/cgroup writes it ("/system.slice/foo.service").
inline constexpr std::string_view cgroupKey = "Cgroup";
// A keyword, or an absolute path without "." or ".." parts, controls or NUL.
bool isCgroupChoice(std::string_view choice);
// The stored choice, "auto" where there is none or it is not one.
std::string chosenCgroup(const Configuration& config);
inline constexpr std::string_view everyItem = "all";

// The colours of the levels no ColorKey sets: "default" or "colorblind".
inline constexpr std::string_view paletteKey = "Palette";
inline constexpr std::string_view paletteNames[] = {"default", "colorblind"};
inline bool isPaletteName(std::string_view name) {
    return name == paletteNames[0] || name == paletteNames[1];
}

// What the user typed ("/,/home" or "eth0,wlan0", or "all") as the names in that order,
// empty for every one; throws SuiteError naming the word that is no absolute mount point
// or no name the kernel gives an interface, or a name given twice. A mount point's
// trailing slashes are dropped, as the mount table writes it without them.
std::vector<std::string> parseRowItems(std::string_view key, std::string_view typed);
std::string rowItemsText(const std::vector<std::string>& items);

// The names the stored setting chooses, empty for every one; a stored value that is no
// list of names, or whose names are all unusable, chooses every one.
std::vector<std::string> chosenRowItems(const Configuration& config, std::string_view key);

}  // namespace quillo
