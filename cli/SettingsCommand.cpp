#include "SettingsCommand.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "settings/Configuration.hpp"
#include "settings/SettingsSuite.hpp"
#include "settings/SuiteWriter.hpp"

namespace quillo::cli {
namespace {

struct KnownKey {
    std::string_view name;
    bool isColor;
    std::string_view help;
};

constexpr std::array<KnownKey, 4> knownKeys = {{
    {"RefreshRate", false, "seconds between refreshes: fast, normal, slow, verySlow or a number"},
    {"NormalColorKey", true, "bar colour below 50 % (battery: from 20 %)"},
    {"WarningColorKey", true, "bar colour from 50 % to below 80 %"},
    {"CriticalColorKey", true, "bar colour from 80 % (battery: below 20 %)"},
}};

const KnownKey* findKey(std::string_view name) {
    const auto it = std::find_if(knownKeys.begin(), knownKeys.end(),
                                 [&](const KnownKey& k) { return k.name == name; });
    return it == knownKeys.end() ? nullptr : &*it;
}

std::string display(const SuiteDocument& value) {
    if (value.is_number()) return formatNumber(value.get<double>());
    if (value.is_array() &&
        std::all_of(value.begin(), value.end(), [](const auto& v) { return v.is_number(); })) {
        std::string text;
        for (const auto& v : value) {
            if (!text.empty()) text += ',';
            text += formatNumber(v.get<double>());
        }
        return text;
    }
    return value.dump();
}

std::string knownKeyList() {
    std::string list;
    for (const auto& k : knownKeys) {
        if (!list.empty()) list += ", ";
        list += k.name;
    }
    return list;
}

}  // namespace

void addSettingsCommand(CLI::App& app) {
    auto* settings = app.add_subcommand(
        "settings", "Read or change the settings the panel picks up at its next refresh");
    settings->require_subcommand(1);
    std::string keysHelp = "\nKeys:\n";
    for (const auto& k : knownKeys) {
        keysHelp += "  " + std::string(k.name) + std::string(18 - k.name.size(), ' ') +
                    std::string(k.help) + "\n";
    }
    keysHelp += "Colours are r,g,b[,a] with components from 0 to 1, or #rrggbb[aa].\n";
    settings->footer(keysHelp);

    const auto path = [] { return defaultSuitePath(); };

    settings->add_subcommand("path", "Print the settings file's path")->callback([path] {
        std::printf("%s\n", path().c_str());
    });

    settings->add_subcommand("list", "Print every stored key and its value")->callback([path] {
        const SuiteDocument document = loadSuite(path());
        std::size_t width = 0;
        for (const auto& [key, value] : document.items()) width = std::max(width, key.size());
        for (const auto& [key, value] : document.items()) {
            std::printf("%-*s  %s\n", int(width), key.c_str(), display(value).c_str());
        }
    });

    struct Arguments {
        std::string key;
        std::string value;
    };
    const auto args = std::make_shared<Arguments>();
    auto* get = settings->add_subcommand("get", "Print the value stored under KEY");
    get->add_option("KEY", args->key, "the key to read")->required();
    get->callback([path, args] {
        const std::string& key = args->key;
        const SuiteDocument document = loadSuite(path());
        const auto it = document.find(key);
        if (it == document.end()) throw SuiteError(key + " is not set");
        std::printf("%s\n", display(*it).c_str());
    });

    auto* set = settings->add_subcommand("set", "Store VALUE under KEY");
    set->add_option("KEY", args->key, "one of " + knownKeyList())->required();
    set->add_option("VALUE", args->value, "the new value")->required();
    set->callback([path, args] {
        const std::string& key = args->key;
        const std::string& value = args->value;
        const KnownKey* known = findKey(key);
        if (!known) throw SuiteError("unknown key " + key + "; the keys are " + knownKeyList());
        SuiteDocument stored = known->isColor ? SuiteDocument(parseColor(value))
                                              : SuiteDocument(parseRefreshInterval(value));
        updateSuite(path(), [&](SuiteDocument& document) { document[key] = stored; });
    });

    auto* unset = settings->add_subcommand("unset", "Remove KEY, so its default applies again");
    unset->add_option("KEY", args->key, "the key to remove")->required();
    unset->callback([path, args] {
        updateSuite(path(), [&](SuiteDocument& document) { document.erase(args->key); });
    });
}

}  // namespace quillo::cli
