// What both front ends get from the one composition root: the named-configuration
// rule with its words, and a core built on the configuration's table.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <string>

#include "app/Console.h"
#include "device/VendorCommands.h"
#include "environment/HubEnvironment.h"
#include "tests/support/SampleImage.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

class QuietShell final : public driver::ShellRunner {
public:
    void run(const std::string&) override {}
};

class HubEnvironmentTest : public ::testing::Test {
protected:
    HubEnvironmentTest() {
        std::filesystem::create_directory(scratch_.path() / "private");
        ::chmod((scratch_.path() / "private").c_str(), 0700);
        settings_.shell = &shell_;
        settings_.privateFolder = scratch_.path() / "private";
        settings_.logPath = scratch_.path("Velmora.log");
        settings_.systemRoot = scratch_.path() / "root";
    }

    std::string writeConfig(const std::string& name, const std::string& text) const {
        std::ofstream(scratch_.path(name)) << text;
        return scratch_.path(name);
    }

    std::unique_ptr<HubEnvironment> open(EnvironmentOptions options, std::string& error) {
        options.simulate = true;
        options.keepHistory = false;
        return HubEnvironment::open(std::move(options), std::make_unique<SilentConsole>(), settings_, error);
    }

    ScratchFolder scratch_{"velmora-environment"};
    QuietShell shell_;
    LaunchSettings settings_;
};

constexpr const char* kOneHub = "[Support Vid Pid]\nVID_00 = 0x2FE3\nSSPID_00 = 0x0611\nHSPID_00 = 0x0610\n";
constexpr const char* kOtherHub =
    "[Support Vid Pid]\nVID_00 = 0x1A2B\nSSPID_00 = 0x0611\nHSPID_00 = 0x0610\n";

// A file the user named must be read and name a hub; the resource folder's may be
// missing or empty, and then every key takes its default.
TEST_F(HubEnvironmentTest, ANamedConfigurationMustBeReadAndNameAHub) {
    std::string error;
    EnvironmentOptions options;
    options.configPath = scratch_.path("missing.ini");
    EXPECT_EQ(open(options, error), nullptr);
    EXPECT_EQ(error,
              "--config: cannot use '" + scratch_.path("missing.ini") + "': No such file or directory");
    // Refused before anything ran: no log line was written.
    EXPECT_FALSE(std::filesystem::exists(settings_.logPath));

    options.configPath = writeConfig("nohub.ini", "[Parvane Config]\nScalarMode = 0\n");
    EXPECT_EQ(open(options, error), nullptr);
    EXPECT_EQ(error, "--config: cannot use '" + scratch_.path("nohub.ini") +
                         "': it defines no supported hub (VID_nn, SSPID_nn, HSPID_nn)");

    EnvironmentOptions unnamed;
    unnamed.defaultConfigPath = scratch_.path("nohub.ini");
    error.clear();
    EXPECT_NE(open(unnamed, error), nullptr) << error;
}

TEST_F(HubEnvironmentTest, AnUnknownScenarioIsRefusedBeforeTheLaunch) {
    std::string error;
    EnvironmentOptions options;
    options.simulate = true;
    options.scenario = "bogus";
    EXPECT_EQ(HubEnvironment::prepare(options, std::make_unique<SilentConsole>(), error), nullptr);
    EXPECT_EQ(error, "--simulate: unknown scenario 'bogus' (see --help)");
}

TEST_F(HubEnvironmentTest, BuildsTheCoreOnTheConfigurationsTable) {
    std::string error;
    EnvironmentOptions options;
    options.configPath = writeConfig("config.ini", kOneHub);
    options.clock = ClockChoice::Virtual;
    const std::unique_ptr<HubEnvironment> environment = open(options, error);
    ASSERT_NE(environment, nullptr) << error;
    EXPECT_NE(environment->virtualClock(), nullptr);
    EXPECT_NE(environment->simulation(), nullptr);
    EXPECT_EQ(environment->recorder(), nullptr);
    EXPECT_EQ(environment->configFolder(), scratch_.path().string());

    // The simulated hub takes the table's identity, so --all finds it.
    const std::vector<std::string> ports = environment->supportedPorts();
    ASSERT_EQ(ports.size(), 1U);
    EXPECT_EQ(environment->portsFor(HubChoice{true, {}}), ports);
    EXPECT_EQ(environment->portsFor(HubChoice{false, {"9-9"}}), std::vector<std::string>{"9-9"});

    // Images are admitted against the same table: the sample's IDs are this one's
    // and not another configuration's, unless new IDs are allowed.
    const std::string image = scratch_.write("sample.bin", makeShippedSampleImage());
    EXPECT_TRUE(environment->admitImage(image, ImageUse::Update).admitted());
    options.configPath = writeConfig("other.ini", kOtherHub);
    const std::unique_ptr<HubEnvironment> other = open(options, error);
    ASSERT_NE(other, nullptr) << error;
    EXPECT_EQ(other->admitImage(image, ImageUse::Update).refusal, ImageRefusal::UnlistedIds);
    EXPECT_TRUE(other->admitImage(image, ImageUse::Update, true).admitted());
}

TEST_F(HubEnvironmentTest, RealTimeIsKeptWhenAsked) {
    std::string error;
    EnvironmentOptions options;
    options.configPath = writeConfig("config.ini", kOneHub);
    options.clock = ClockChoice::Real;
    const std::unique_ptr<HubEnvironment> environment = open(options, error);
    ASSERT_NE(environment, nullptr) << error;
    EXPECT_EQ(environment->virtualClock(), nullptr);
}

// --record wraps the bus the environment built; --replay stands in for any bus,
// keeps no history (a replay records nowhere) and says where a run went elsewhere.
TEST_F(HubEnvironmentTest, RecordsAndReplaysTheHubsForEitherFrontEnd) {
    const std::string recording = scratch_.path("run.jsonl");
    auto readStatus = [](HubEnvironment& environment) {
        EXPECT_TRUE(environment.connection().openHub());
        const std::optional<HubStatus> status = VC_ReadHubStatus(environment.connection());
        environment.connection().closeHub();
        return status;
    };
    EnvironmentOptions options;
    options.configPath = writeConfig("config.ini", kOneHub);
    options.clock = ClockChoice::Virtual;
    options.historyPath = scratch_.path("history.sqlite");
    std::string error;
    std::optional<HubStatus> recorded;
    {
        EnvironmentOptions recordOptions = options;
        recordOptions.simulate = true;
        recordOptions.recording.recordPath = recording;
        auto environment =
            HubEnvironment::open(recordOptions, std::make_unique<SilentConsole>(), settings_, error);
        ASSERT_NE(environment, nullptr) << error;
        EXPECT_FALSE(environment->replays());
        EXPECT_NE(environment->recorder(), nullptr);
        recorded = readStatus(*environment);
        ASSERT_TRUE(recorded.has_value());
        EXPECT_EQ(environment->recordingProblem(), std::nullopt);
    }
    EnvironmentOptions replayOptions = options;
    replayOptions.recording.replayPath = recording;
    auto environment =
        HubEnvironment::open(replayOptions, std::make_unique<SilentConsole>(), settings_, error);
    ASSERT_NE(environment, nullptr) << error;
    EXPECT_TRUE(environment->replays());
    EXPECT_EQ(environment->recorder(), nullptr);
    EXPECT_NE(environment->runObserver(), nullptr);  // asks the hub what a kept record asks
    EXPECT_EQ(environment->simulation(), nullptr);
    const std::optional<HubStatus> replayed = readStatus(*environment);
    ASSERT_TRUE(replayed.has_value());
    EXPECT_EQ(replayed->firmwareVersion, recorded->firmwareVersion);
    EXPECT_EQ(environment->replayDivergence(), std::nullopt);
    // One request more than the recording holds.
    EXPECT_FALSE(environment->connection().openHub());
    const std::optional<std::string> line = environment->replayDivergence();
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->rfind("Replay diverged at exchange ", 0), 0U) << *line;

    replayOptions.recording.replayPath = scratch_.path("missing.jsonl");
    EXPECT_EQ(HubEnvironment::open(replayOptions, std::make_unique<SilentConsole>(), settings_, error),
              nullptr);
    EXPECT_EQ(error.rfind("--replay: " + scratch_.path("missing.jsonl"), 0), 0U) << error;
}

}  // namespace
}  // namespace velmora::testing
