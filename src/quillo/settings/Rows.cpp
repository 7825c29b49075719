#include "quillo/settings/Rows.hpp"

#include <algorithm>

#include "quillo/settings/Configuration.hpp"
#include "quillo/settings/Keys.hpp"
#include "quillo/settings/SuiteWriter.hpp"

namespace quillo {

namespace {

template <class Words>
std::string joined(const Words& words) {
    std::string text;
    for (const auto& word : words) {
        if (!text.empty()) text += ',';
        text += word;
    }
    return text;
}

}  // namespace

std::string_view name(PanelRow row) {
    return panelRowNames[std::size_t(row)];
}

std::optional<PanelRow> panelRowNamed(std::string_view name) {
    const auto it = std::find(panelRowNames.begin(), panelRowNames.end(), name);
    if (it == panelRowNames.end()) return std::nullopt;
    return PanelRow(it - panelRowNames.begin());
}

const std::vector<PanelRow>& defaultPanelRows() {
    static const std::vector<PanelRow> rows = {
        PanelRow::cpu,  PanelRow::memory, PanelRow::disk,   PanelRow::network,
        PanelRow::load, PanelRow::uptime, PanelRow::battery};
    return rows;
}

std::vector<PanelRow> parsePanelRows(std::string_view typed) {
    std::vector<PanelRow> rows;
    std::size_t start = 0;
    while (start <= typed.size()) {
        std::size_t end = typed.find(',', start);
        if (end == std::string_view::npos) end = typed.size();
        std::string_view word = typed.substr(start, end - start);
        while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
        while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
        start = end + 1;
        if (word.empty() && end == typed.size() && !rows.empty()) break;  // a trailing comma
        const auto row = panelRowNamed(word);
        if (!row) {
            std::string message = "no row is called \"" + std::string(word) + "\"";
            if (const auto near = nearestWord(word, panelRowNames))
                message += "; did you mean \"" + std::string(*near) + "\"?";
            throw SuiteError(message + " The rows are " + joined(panelRowNames) + ".");
        }
        if (std::find(rows.begin(), rows.end(), *row) != rows.end())
            throw SuiteError("the row \"" + std::string(word) + "\" is named twice");
        rows.push_back(*row);
    }
    return rows;
}

std::string panelRowsText(const std::vector<PanelRow>& rows) {
    std::vector<std::string_view> words;
    for (const PanelRow row : rows) words.push_back(name(row));
    return joined(words);
}

std::vector<PanelRow> chosenPanelRows(const Configuration& config) {
    const auto stored = config.defaults->objectForKey(rowsKey);
    if (!stored || stored->kind != StoredValue::Kind::stringList) return defaultPanelRows();
    std::vector<PanelRow> rows;
    for (const std::string& word : stored->strings) {
        const auto row = panelRowNamed(word);
        if (row && std::find(rows.begin(), rows.end(), *row) == rows.end()) rows.push_back(*row);
    }
    return rows.empty() ? defaultPanelRows() : rows;
}

}  // namespace quillo
