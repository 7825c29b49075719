// The settings suite: the panel's streaming look-up, the writer's edits, and the values
// a user types. Whatever text the writer accepts, setting a key makes it read back with
// that value and leaves every other member's text as it was, and erasing it makes it
// absent; the result is always a file the writer accepts again.
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quillo/settings/SettingsSuite.hpp"
#include "quillo/settings/SuiteWriter.hpp"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

Members othersThan(const quillo::SuiteText& suite, std::string_view key) {
    Members members;
    for (const auto& m : suite.members()) {
        if (m.key != key) members.emplace_back(m.key, std::string(suite.valueText(m)));
    }
    return members;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* key :
         {"RefreshRate", "NormalColorKey", "WarningColorKey", "CriticalColorKey", ""}) {
        (void)quillo::parseSuiteValue(text, key);
    }
    try {
        quillo::SuiteText suite{std::string(text)};
        const Members before = othersThan(suite, "RefreshRate");
        suite.set("RefreshRate", "2.5");
        quillo::SuiteText edited{suite.text()};
        const auto value = quillo::parseSuiteValue(edited.text(), "RefreshRate");
        if (!value || value->number != 2.5 || othersThan(edited, "RefreshRate") != before)
            std::abort();
        edited.erase("RefreshRate");
        const quillo::SuiteText erased{edited.text()};
        if (erased.find("RefreshRate") || quillo::parseSuiteValue(erased.text(), "RefreshRate") ||
            othersThan(erased, "RefreshRate") != before) {
            std::abort();
        }
    } catch (const quillo::SuiteError&) {
    }
    try {
        (void)quillo::parseColor(text);
    } catch (const quillo::SuiteError&) {
    }
    try {
        (void)quillo::parseRefreshInterval(text);
    } catch (const quillo::SuiteError&) {
    }
    return 0;
}
