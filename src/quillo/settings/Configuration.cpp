#include "quillo/settings/Configuration.hpp"

namespace quillo {

Configuration::Configuration(std::unique_ptr<const SettingsSuite> suite)
    : defaults(std::move(suite)) {}

Configuration& Configuration::shared() {
    // Function-local statics are initialised once, even under concurrent first calls.
    static Configuration instance(std::make_unique<const SettingsSuite>(defaultSuitePath()));
    return instance;
}

std::optional<double> Configuration::doubleValue(std::string_view forKey) const {
    const auto value = defaults->objectForKey(forKey);
    if (!value || value->kind != StoredValue::Kind::number) return std::nullopt;
    return value->number;
}

std::optional<std::vector<double>> Configuration::colorComponents(std::string_view forKey) const {
    auto value = defaults->objectForKey(forKey);
    if (!value || value->kind != StoredValue::Kind::numberList) return std::nullopt;
    return std::move(value->numbers);
}

}  // namespace quillo
