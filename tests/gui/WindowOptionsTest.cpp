// The window program's command line, read before any display is opened.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "app/AppPaths.h"
#include "window/WindowOptions.h"
#include "window/WindowSession.h"

namespace velmora::window {
namespace {

struct OptionsRow {
    std::vector<std::string> words;
    std::string error;  // a part of the message; empty: accepted
};

class WindowOptionWords : public ::testing::TestWithParam<OptionsRow> {};

TEST_P(WindowOptionWords, AreAcceptedOrNamedInTheError) {
    const ParsedWindowOptions parsed = parseWindowOptions(GetParam().words);
    if (GetParam().error.empty()) {
        EXPECT_EQ(parsed.error, "");
    } else {
        EXPECT_NE(parsed.error.find(GetParam().error), std::string::npos) << parsed.error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WindowOptionWords,
    ::testing::Values(OptionsRow{{}, ""}, OptionsRow{{"--simulate"}, ""},
                      OptionsRow{{"--simulate=no-hub", "--verbose"}, ""},
                      OptionsRow{{"--config", "my.ini"}, ""}, OptionsRow{{"--config=my.ini"}, ""},
                      OptionsRow{{"--config"}, "--config needs a file name"},
                      OptionsRow{{"--config", "--simulate"}, "--config needs a file name"},
                      OptionsRow{{"--config="}, "--config needs a file name"},
                      OptionsRow{{"--simulate="}, "needs a scenario name"},
                      OptionsRow{{"--simulate=bogus"}, "unknown scenario \"bogus\""},
                      OptionsRow{{"--frobnicate"}, "unknown option --frobnicate"},
                      OptionsRow{{"update"}, "unexpected argument \"update\""},
                      OptionsRow{{"--station", "fw.bin", "--count=8", "--serial-digits", "6"}, ""},
                      OptionsRow{{"--station"}, "--station needs a value"},
                      OptionsRow{{"--count", "8"}, "the station's options go with --station IMAGE"},
                      OptionsRow{{"--station=fw.bin", "--count", "0"},
                                 "--count takes a number of units from 1"},
                      OptionsRow{{"--station=fw.bin", "--expect-version", "12"}, "expected four hex digits"},
                      OptionsRow{{"--station=fw.bin", "--metrics", "example.com:1"}, "station: --metrics:"},
                      OptionsRow{{"--station=fw.bin", "--serial-prefix", "ZH"}, "--serial-digits N"}));

TEST(WindowOptions, StationOptionsAreTaken) {
    const WindowOptions options =
        parseWindowOptions({"--station", "fw.bin", "--station-name", "line-4", "--count", "64",
                            "--expect-version", "0103", "--metrics-file", "v.prom"})
            .options;
    ASSERT_TRUE(options.station);
    EXPECT_EQ(options.station->imagePath, "fw.bin");
    EXPECT_EQ(options.station->stationName, "line-4");
    EXPECT_EQ(options.station->settings.count, 64);
    EXPECT_EQ(options.station->settings.expectVersion, 0x0103);
    EXPECT_EQ(options.station->monitor.file, std::optional<std::string>("v.prom"));
    EXPECT_NE(usageText().find("--station IMAGE"), std::string::npos);
}

TEST(WindowOptions, ValuesAreTaken) {
    const WindowOptions options =
        parseWindowOptions({"--config", "a.ini", "--simulate=rom-code", "-v", "--help", "--version"}).options;
    EXPECT_EQ(options.configPath, std::optional<std::string>("a.ini"));
    EXPECT_TRUE(options.simulate);
    EXPECT_EQ(options.scenario, "rom-code");
    EXPECT_TRUE(options.verbose);
    EXPECT_TRUE(options.help);
    EXPECT_TRUE(options.version);
}

TEST(WindowOptions, HelpNamesEveryOptionAndScenario) {
    const std::string help = usageText();
    for (const char* word : {"--config FILE", "--simulate[=SCENARIO]", "--verbose", "--version", "--help",
                             "never-returns", "xvfb-run"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(versionText(), "velmora 1.02\n");
}

TEST(WindowSessionCreate, NamedConfigurationMustExistAndTheScenarioBeKnown) {
    std::string error;
    WindowOptions options;
    options.configPath = "/nonexistent/velmora/config.ini";
    EXPECT_EQ(WindowSession::create(options, error), nullptr);
    // The command line's words for the same file.
    EXPECT_NE(error.find("--config: cannot use '/nonexistent/velmora/config.ini': No such file or directory"),
              std::string::npos)
        << error;

    options.configPath = std::string(VELMORA_TEST_RESOURCES) + "/config.ini";
    error.clear();
    const std::unique_ptr<WindowSession> session = WindowSession::create(options, error);
    ASSERT_NE(session, nullptr) << error;
    // FwBin is taken from the configuration's folder; the chip list keeps the
    // shipped definitions.
    EXPECT_EQ(session->paths().configFolder(), VELMORA_TEST_RESOURCES);
    EXPECT_EQ(session->paths().resourcePath, resourceFolder());
}

struct DisplayRow {
    const char* display;
    const char* wayland;
    const char* platform;
    bool available;
};

class DisplayCheck : public ::testing::TestWithParam<DisplayRow> {
protected:
    void SetUp() override {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name, value->c_str(), 1);
            else
                ::unsetenv(name);
        }
    }
    static void set(const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_P(DisplayCheck, NeedsADisplayOrAPlatformWithoutOne) {
    set("DISPLAY", GetParam().display);
    set("WAYLAND_DISPLAY", GetParam().wayland);
    set("QT_QPA_PLATFORM", GetParam().platform);
    EXPECT_EQ(displayAvailable(), GetParam().available);
}

INSTANTIATE_TEST_SUITE_P(Rows, DisplayCheck,
                         ::testing::Values(DisplayRow{nullptr, nullptr, nullptr, false},
                                           DisplayRow{"", nullptr, nullptr, false},
                                           DisplayRow{":99", nullptr, nullptr, true},
                                           DisplayRow{nullptr, "wayland-0", nullptr, true},
                                           DisplayRow{nullptr, nullptr, "offscreen", true},
                                           DisplayRow{nullptr, nullptr, "xcb", false}));

}  // namespace
}  // namespace velmora::window
