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

// The words of a comma-separated list, blanks around each dropped; a trailing comma
// ends the list.
std::vector<std::string_view> words(std::string_view typed) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start <= typed.size()) {
        std::size_t end = typed.find(',', start);
        if (end == std::string_view::npos) end = typed.size();
        std::string_view word = typed.substr(start, end - start);
        while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
        while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
        start = end + 1;
        if (word.empty() && end == typed.size() && !out.empty()) break;
        out.push_back(word);
    }
    return out;
}

// As the kernel's dev_valid_name: 1 to 15 bytes, neither "." nor "..", and no slash,
// colon or white space.
bool isInterfaceName(std::string_view name) {
    return !name.empty() && name.size() < 16 && name != "." && name != ".." &&
           std::none_of(name.begin(), name.end(), [](char c) {
               return c == '/' || c == ':' || c == ' ' || (c >= '\t' && c <= '\r');
           });
}

// A usable name for the key, in the form the mount table or the kernel writes it;
// empty where it is none.
std::string itemName(std::string_view key, std::string_view word) {
    if (key == interfacesKey) return isInterfaceName(word) ? std::string(word) : std::string();
    if (word.empty() || word.front() != '/' || word.find('\0') != std::string_view::npos) return {};
    while (word.size() > 1 && word.back() == '/') word.remove_suffix(1);
    return std::string(word);
}

}  // namespace

std::vector<std::string> parseRowItems(std::string_view key, std::string_view typed) {
    const std::vector<std::string_view> typedWords = words(typed);
    if (typedWords.size() == 1 && typedWords.front() == everyItem) return {};
    std::vector<std::string> items;
    for (const std::string_view word : typedWords) {
        if (word == everyItem) throw SuiteError("\"all\" stands alone, not among names");
        std::string item = itemName(key, word);
        if (item.empty()) {
            throw SuiteError("\"" + std::string(word) + "\" is no " +
                             (key == interfacesKey
                                  ? "interface name (1 to 15 characters, no '/', ':' or blank)"
                                  : "mount point (a path from \"/\")") +
                             "; give names separated by commas, or \"all\"");
        }
        if (std::find(items.begin(), items.end(), item) != items.end())
            throw SuiteError("\"" + item + "\" is named twice");
        items.push_back(std::move(item));
    }
    return items;
}

std::string rowItemsText(const std::vector<std::string>& items) {
    return items.empty() ? std::string(everyItem) : joined(items);
}

std::vector<std::string> chosenRowItems(const Configuration& config, std::string_view key) {
    const auto stored = config.defaults->objectForKey(key);
    if (!stored || stored->kind != StoredValue::Kind::stringList) return {};
    std::vector<std::string> items;
    for (const std::string& word : stored->strings) {
        if (word == everyItem) return {};
        std::string item = itemName(key, word);
        if (!item.empty() && std::find(items.begin(), items.end(), item) == items.end())
            items.push_back(std::move(item));
    }
    return items;
}

bool isCgroupChoice(std::string_view choice) {
    if (choice == "auto" || choice == "host") return true;
    if (choice.empty() || choice[0] != '/') return false;
    for (const char c : choice) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    for (std::size_t i = 0; i < choice.size();) {
        const std::size_t end = std::min(choice.find('/', i + 1), choice.size());
        const std::string_view part = choice.substr(i + 1, end - i - 1);
        if (part == "." || part == "..") return false;
        i = end;
    }
    return true;
}

std::string chosenCgroup(const Configuration& config) {
    const auto stored = config.defaults->objectForKey(cgroupKey);
    if (stored && stored->kind == StoredValue::Kind::string && isCgroupChoice(stored->strings[0]))
        return stored->strings[0];
    return "auto";
}

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
    for (const std::string_view word : words(typed)) {
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
