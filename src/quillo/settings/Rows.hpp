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

}  // namespace quillo
