// The settings suite: the panel's streaming look-up, the writer's whole-document
// parse, and the values a user types.
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/SettingsSuite.hpp"
#include "settings/SuiteWriter.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* key :
         {"RefreshRate", "NormalColorKey", "WarningColorKey", "CriticalColorKey", ""}) {
        (void)quillo::parseSuiteValue(text, key);
    }
    try {
        const auto document = quillo::SuiteDocument::parse(text);
        // What the writer accepts, the reader reads: an object is never an empty suite
        // because of its own shape.
        if (document.is_object() && document.contains("RefreshRate") &&
            document["RefreshRate"].is_number() && !quillo::parseSuiteValue(text, "RefreshRate")) {
            std::abort();
        }
    } catch (const nlohmann::json::exception&) {
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
