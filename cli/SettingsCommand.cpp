#include "SettingsCommand.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

#include "Output.hpp"
#include "Usage.hpp"
#include "quillo/settings/Configuration.hpp"
#include "quillo/settings/Keys.hpp"
#include "quillo/settings/Rows.hpp"
#include "quillo/settings/SettingsSuite.hpp"
#include "quillo/settings/SuiteWriter.hpp"
#include "quillo/ui/Theme.hpp"
#include "quillo/widget/Format.hpp"
#include "quillo/widget/Levels.hpp"
#include "quillo/widget/TodayViewController.hpp"

namespace quillo::cli {
namespace {

// A key's value as the panel will use it, and what became of the stored one.
struct Reading {
    std::string value;
    bool isDefault = true;
    std::string note;  // why a stored value is ignored or adjusted
};

// The stored text, escaped and short enough for one line.
std::string shown(std::string_view raw) {
    std::string text = visibleText(raw);
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

Reading read(const SettingKey& key, const SuiteText& suite, const Configuration& config) {
    Reading r;
    const SuiteText::Member* stored = suite.find(key.name);
    const std::string raw = stored ? shown(suite.valueText(*stored)) : "";
    switch (key.kind) {
        case SettingKey::Kind::interval: {
            const auto number = config.doubleValue(key.name);
            const double used = sanitizedRefreshInterval(number);
            r.value = intervalText(used);
            r.isDefault = !number;
            if (stored && !number) r.note = "the stored " + raw + " is ignored: not a number";
            if (number && used != *number)
                r.note = "the stored " + raw + " is adjusted: an interval is from 0.1 to 86400 s";
            break;
        }
        case SettingKey::Kind::color: {
            const auto components = config.colorComponents(key.name);
            const Color c =
                components ? colorWithComponents(*components)
                           : paletteColor(levelOfColorKey(key.name).value_or(ColorLevel::critical),
                                          chosenPalette(config));
            const double values[4] = {c.red, c.green, c.blue, c.alpha};
            r.value = colorText(values);
            r.isDefault = !components;
            if (stored && !components)
                r.note = "the stored " + raw + " is ignored: not a list of numbers";
            if (components && components->size() != 3 && components->size() != 4)
                r.note = "the stored " + raw +
                         " has the wrong number of components: missing ones read as 1";
            break;
        }
        case SettingKey::Kind::percent: {
            const auto number = config.doubleValue(key.name);
            r.value = formatNumber(number.value_or(key.defaultNumber));
            r.isDefault = !number;
            if (stored && !number) r.note = "the stored " + raw + " is ignored: not a number";
            break;
        }
        case SettingKey::Kind::rows: {
            const std::vector<PanelRow> rows = chosenPanelRows(config);
            r.value = panelRowsText(rows);
            r.isDefault = !stored;
            const auto value = config.defaults->objectForKey(key.name);
            if (stored && (!value || value->kind != StoredValue::Kind::stringList)) {
                r.note = "the stored " + raw + " is ignored: not a list of row names";
            } else if (stored && value->strings.size() != rows.size()) {
                r.note = "the stored " + raw + " names rows this version does not know or twice";
            }
            break;
        }
        case SettingKey::Kind::cgroup: {
            r.value = chosenCgroup(config);
            r.isDefault = !stored;
            const auto value = config.defaults->objectForKey(key.name);
            if (stored && (!value || value->kind != StoredValue::Kind::string ||
                           !isCgroupChoice(value->strings[0])))
                r.note = "the stored " + raw + " is ignored: not auto, host or a cgroup path";
            break;
        }
        case SettingKey::Kind::choice: {
            r.value = choiceSetting(config, key);
            r.isDefault = !stored;
            const auto value = config.defaults->objectForKey(key.name);
            if (stored && (!value || value->kind != StoredValue::Kind::string ||
                           value->strings[0] != r.value))
                r.note = "the stored " + raw + " is ignored: not " + choicesText(key.choices);
            break;
        }
        case SettingKey::Kind::number: {
            const auto number = config.doubleValue(key.name);
            const double used = numberSetting(config, key);
            r.value = formatNumber(used);
            r.isDefault = !number;
            if (stored && !number) r.note = "the stored " + raw + " is ignored: not a number";
            if (number && used != *number)
                r.note = "the stored " + raw + " is adjusted: it is from " +
                         formatNumber(key.minimum) + " to " + formatNumber(key.maximum);
            break;
        }
        case SettingKey::Kind::items: {
            const std::vector<std::string> items = chosenRowItems(config, key.name);
            r.value = rowItemsText(items);
            r.isDefault = !stored;
            const auto value = config.defaults->objectForKey(key.name);
            if (stored && (!value || value->kind != StoredValue::Kind::stringList))
                r.note = "the stored " + raw + " is ignored: not a list of names";
            break;
        }
    }
    return r;
}

const SettingKey& knownKey(const std::string& name) {
    if (const SettingKey* key = findSettingKey(name)) return *key;
    std::string message = "unknown setting '" + visibleText(name) + "'";
    if (const auto near = nearestSettingKey(name)) {
        message += "; did you mean '" + std::string(*near) + "'?";
    } else {
        message += "; `quillo settings list` shows the settings";
    }
    throw UsageError(message);
}

}  // namespace

void addSettingsCommand(CLI::App& app) {
    auto* settings = app.add_subcommand(
        "settings", "Read or change the settings the panel picks up at its next refresh");
    settings->require_subcommand(1);
    std::string keysHelp = "\nKeys:\n";
    for (const SettingKey& k : settingKeys()) {
        keysHelp += "  " + std::string(k.name) + std::string(18 - k.name.size(), ' ') +
                    std::string(k.help) + "\n";
    }
    keysHelp += "Colours are r,g,b[,a] with components from 0 to 1, or #rrggbb[aa].\n";
    settings->footer(keysHelp);

    const auto path = [] { return defaultSuitePath(); };

    settings->add_subcommand("path", "Print the settings file's path")->callback([path] {
        std::printf("%s\n", visibleText(path().string()).c_str());
    });

    settings
        ->add_subcommand("list",
                         "Print every setting's value, whether it is the default, and any stored "
                         "value that is ignored")
        ->callback([path] {
            const SuiteText suite = readSuite(path());
            const Configuration config(std::make_unique<SettingsSuite>(path()));
            std::string out;
            for (const SettingKey& key : settingKeys()) {
                const Reading r = read(key, suite, config);
                std::string line = std::string(key.name);
                line.resize(18, ' ');
                line += r.value;
                if (r.isDefault || !r.note.empty()) {
                    line.resize(std::max<std::size_t>(line.size() + 1, 40), ' ');
                    line += "(" + std::string(r.isDefault ? "default" : "") +
                            (r.isDefault && !r.note.empty() ? "; " : "") + r.note + ")";
                }
                out += line + "\n";
            }
            for (const SuiteText::Member& m : suite.members()) {
                if (findSettingKey(m.key)) continue;
                out += visibleText(m.key) + "  " + shown(suite.valueText(m)) +
                       "  (not a Quillo setting; kept as it is)\n";
            }
            writeOutput(out);
        });

    struct Arguments {
        std::string key;
        std::string value;
    };
    const auto args = std::make_shared<Arguments>();
    auto* get = settings->add_subcommand("get", "Print the value the panel uses for KEY");
    get->add_option("KEY", args->key, "the setting to read")->required();
    get->callback([path, args] {
        const SuiteText suite = readSuite(path());
        if (!findSettingKey(args->key)) {
            // A key of another program's is shown as it is stored.
            if (const SuiteText::Member* m = suite.find(args->key)) {
                std::printf("%s\n", visibleText(suite.valueText(*m)).c_str());
                return;
            }
        }
        const Reading r = read(knownKey(args->key), suite,
                               Configuration(std::make_unique<SettingsSuite>(path())));
        if (!r.note.empty()) std::fprintf(stderr, "quillo: %s\n", r.note.c_str());
        std::printf("%s\n", r.value.c_str());
    });

    auto* set = settings->add_subcommand("set", "Store VALUE under KEY");
    set->add_option("KEY", args->key, "the setting to change")->required();
    set->add_option("VALUE", args->value, "the new value")->required();
    set->callback([path, args] {
        const SettingKey& key = knownKey(args->key);
        std::string stored;
        try {
            stored = storedForm(key, args->value);
        } catch (const SuiteError& e) {
            throw UsageError(e.what());
        }
        updateSuite(path(), [&](SuiteText& suite) { suite.set(key.name, stored); });
    });

    auto* unset = settings->add_subcommand("unset", "Remove KEY, so its default applies again");
    unset->add_option("KEY", args->key, "the setting to remove")->required();
    unset->callback([path, args] {
        if (!findSettingKey(args->key) && !readSuite(path()).find(args->key))
            (void)knownKey(args->key);
        updateSuite(path(), [&](SuiteText& suite) { suite.erase(args->key); });
    });
}

}  // namespace quillo::cli
