#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <cmath>
#include <cstdio>

#include "support/Run.hpp"
#include "quillo/widget/Format.hpp"

using namespace quillo;

namespace {

TEST(FormatC, RoundsAsPrintfDoes) {
    EXPECT_EQ(formatC("%.0f%%", {0.5}), "0%");
    EXPECT_EQ(formatC("%.0f%%", {2.5}), "2%");
    EXPECT_EQ(formatC("%.0f%%", {37.5}), "38%");
    EXPECT_EQ(formatC("%.0f%%", {49.7}), "50%");
    EXPECT_EQ(formatC("%.1f%%", {57.0}), "57.0%");
    EXPECT_EQ(formatC("%.0f%%", {std::nan("")}), "nan%");
    EXPECT_EQ(formatC("%.0f%%", {-std::nan("")}), "nan%") << "0/0 is a negative NaN on x86";
    EXPECT_EQ(formatC("%.2f", {1.005}), "1.00") << "1.005 is below the tie as a double";
}

TEST(FormatC, IntegersTextsAndPercentSigns) {
    EXPECT_EQ(formatC("Uptime: %dd %dh %dm %ds",
                      {std::int64_t{412}, std::int64_t{23}, std::int64_t{59}, std::int64_t{59}}),
              "Uptime: 412d 23h 59m 59s");
    EXPECT_EQ(formatC("%d:%02d", {std::int64_t{2}, std::int64_t{5}}), "2:05");
    EXPECT_EQ(formatC("Load Average: %@", {std::string_view("0.50 1.25 10.00")}),
              "Load Average: 0.50 1.25 10.00");
    EXPECT_EQ(
        formatC("%d cycles, %d%% healthy, %.0f\u2103", {std::int64_t{312}, std::int64_t{96}, 31.0}),
        "312 cycles, 96% healthy, 31\u2103");
    EXPECT_EQ(formatC("%lld big", {std::int64_t{1} << 40}), "1099511627776 big");
}

TEST(FormatC, HostileFormatsNeverReadPastTheirArguments) {
    EXPECT_EQ(formatC("%d %d %s %n %x", {std::int64_t{1}}), "1   %n %x");
    EXPECT_EQ(formatC("100%", {}), "100%");
    EXPECT_EQ(formatC("%*d", {std::int64_t{5}}), "%*d");
    EXPECT_EQ(formatC("%.0999999999f|%4000000000d", {1.0, std::int64_t{2}}),
              "%.0999999999f|%4000000000d")
        << "found by fuzzing: printf would allocate gigabytes";
    EXPECT_EQ(formatC("%05.1f", {2.25}), "002.2");
    EXPECT_EQ(formatC("%.2f", {std::string_view("text")}), "0.00");
    EXPECT_EQ(formatC("%d %d %d", {std::nan(""), 1e300, -2.9}), "0 9223372036854775807 -2");
    EXPECT_EQ(conversionsOf("%d cycles, %d%% healthy, %.0f\u2103"), "ddf");
    EXPECT_EQ(conversionsOf("Load Average: %@"), "@");
}

// One rule for every text from outside on its way to a terminal or into JSON.
TEST(OutsideText, ControlsBidiSeparatorsAndBadBytesAreEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain caf\xc3\xa9 \xe2\x82\xac", "plain caf\xc3\xa9 \xe2\x82\xac"},
        {"\x1b]0;t\x07", "\\x1b]0;t\\x07"},
        {"a\\b", "a\\\\b"},
        {"\x7f\xc2\x9b", "\\x7f\\u009b"},
        {"\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9\xe2\x80\x8f\xd8\x9c",
         "\\u202e\\u2066\\u2069\\u200f\\u061c"},
        {"\xe2\x80\xa8\xe2\x80\xa9\xef\xbb\xbf", "\\u2028\\u2029\\ufeff"},
        {"\xff\xc0", "\\xff\\xc0"},
    };
    for (const auto& [raw, shown] : cases) EXPECT_EQ(visibleText(raw), shown) << shown;
    EXPECT_EQ(jsonString("q\"\\\x01\x7f\xe2\x80\xae\xc3\xa9"),
              "\"q\\\"\\\\\\u0001\\u007f\\u202e\xc3\xa9\"");
    EXPECT_EQ(jsonEscaped("{\"k\": \"\x7f\xe2\x80\xa8\\u001b\"}"),
              "{\"k\": \"\\u007f\\u2028\\u001b\"}");
}

// The user's locale must not leak into the panel's texts: run under a German locale,
// built for the test when the system has none.
TEST(FormatC, FullStopsUnderAGermanLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        test::TempDir dir;
        const test::RunResult built = test::run(
            "localedef -i de_DE -f UTF-8 " + test::quoted((dir.path() / "de_DE.UTF-8").string()));
        ::setenv("LOCPATH", dir.path().c_str(), 1);
        const bool available = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        ::unsetenv("LOCPATH");
        if (!available) GTEST_SKIP() << "no German locale could be made: " << built.err;
    }
    char plain[32];
    std::snprintf(plain, sizeof plain, "%.2f", 1.5);
    EXPECT_STREQ(plain, "1,50") << "the locale is really German";
    EXPECT_EQ(formatC("%.2f %.2f %.2f", {0.5, 1.25, 10.0}), "0.50 1.25 10.00");
    EXPECT_EQ(formatC("%.0f%%", {37.5}), "38%");
    std::setlocale(LC_ALL, "C");
}

}  // namespace
