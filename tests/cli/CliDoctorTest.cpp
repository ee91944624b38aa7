// "doctor" on the simulated hub: what it finds per check, and the exit status a
// script can rely on (0 only when every hub listed is ready for an update).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/CliFixture.h"
#include "tests/support/LogindStandIn.h"

namespace velmora::testing {
namespace {

struct DoctorCase {
    const char* name;
    const char* scenario;
    int exitStatus;
    std::vector<std::string> expectedLines;  // each must appear in stdout
};

void PrintTo(const DoctorCase& testCase, std::ostream* stream) {
    *stream << testCase.name;
}

class CliDoctorTest : public CliFixture, public ::testing::WithParamInterface<DoctorCase> {};

TEST_P(CliDoctorTest, SaysPerCheckWhatStandsInTheWay) {
    const CliRun run = simulated(GetParam().scenario, {"doctor"});
    EXPECT_EQ(run.exitStatus, GetParam().exitStatus) << run.out << run.err;
    // A hub that fails is worth a recording; one that is ready, or none at all, is not.
    const bool failedHub = run.out.find("  not ready for an update\n") != std::string::npos;
    EXPECT_EQ(run.out.find("--record FILE") != std::string::npos, failedHub) << run.out;
    for (const std::string& line : GetParam().expectedLines) {
        EXPECT_NE(run.out.find(line), std::string::npos) << "missing: " << line << "\n" << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, CliDoctorTest,
    ::testing::Values(
        DoctorCase{
            "ReadyHub",
            "flash-code",
            0,
            {"this machine\n  inhibitor:      OK    none taken for the simulated hubs\n1-1  2FE3:0611\n",
             "lock:           OK    no other run holds the hub\n",
             "code:           OK    flash code, firmware version 0102\n", "  ready for an update\n"}},
        // A hub in its ROM code can still be updated: the update writes the firmware.
        DoctorCase{"RomCode", "rom-code", 0, {"code:           OK    ROM code", "  ready for an update\n"}},
        DoctorCase{"HeldByAnotherDriver",
                   "busy",
                   1,
                   {"kernel driver:  FAIL  another driver holds the hub: run 'velmora-cli driver load'",
                    "code:           FAIL  not read", "  not ready for an update\n",
                    "to report a hub that fails: run the failing command again with --record FILE"}},
        DoctorCase{"SilentHub",
                   "stall-status",
                   1,
                   {"code:           FAIL  the hub does not answer the status request", "  not ready"}},
        DoctorCase{"NoHub", "no-hub", 1, {"no supported hub is attached"}},
        // Every supported hub attached gets its own checks.
        DoctorCase{"TwoReadyHubs", "two-hubs", 0, {"1-1  2FE3:0611\n", "1-2  2FE3:0611\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliFixture, DoctorJsonListsEveryCheckAndTheVerdict) {
    const CliRun ready = simulated("flash-code", {"--json", "doctor"});
    EXPECT_EQ(ready.exitStatus, 0) << ready.err;
    EXPECT_EQ(ready.out.rfind("{\"ready\":true,\"hubs\":[{\"port\":\"1-1\",\"vid\":\"2FE3\",\"pid\":\"0611\","
                              "\"ready\":true,\"checks\":[{\"check\":\"device node\",\"state\":\"ok\"",
                              0),
              0u)
        << ready.out;
    EXPECT_NE(ready.out.find("{\"check\":\"code\",\"state\":\"ok\",\"text\":\"flash code, firmware version "
                             "0102\"}]}],\"machine\":[{\"check\":\"inhibitor\",\"state\":\"ok\",\"text\":"
                             "\"none taken for the simulated hubs\"}]}\n"),
              std::string::npos)
        << ready.out;

    const CliRun busy = simulated("busy", {"--json", "doctor"});
    EXPECT_EQ(busy.exitStatus, 1);
    EXPECT_NE(busy.out.find("\"ready\":false"), std::string::npos) << busy.out;
    EXPECT_NE(busy.out.find("{\"check\":\"kernel driver\",\"state\":\"failed\""), std::string::npos)
        << busy.out;

    const CliRun none = simulated("no-hub", {"--json", "doctor"});
    EXPECT_EQ(none.exitStatus, 1);
    EXPECT_EQ(none.out.rfind("{\"ready\":false,\"hubs\":[],\"text\":", 0), 0u) << none.out;
}

// On the machine's own bus (here a stand-in's): whether logind lets an update
// block sleep, or only delay it; the lock doctor took to find out is let go.
TEST_F(CliFixture, DoctorSaysWhetherAnUpdateCanHoldSleepOff) {
    LogindStandIn logind;
    if (!logind.usable()) GTEST_SKIP() << logind.problem();
    const CliRun blocked = runCli({"--config", config(), "doctor"}, {logind.environmentWord()});
    EXPECT_NE(blocked.out.find("this machine\n  inhibitor:      OK    an update blocks sleep, shutdown"),
              std::string::npos)
        << blocked.out;
    ASSERT_TRUE(logind.refuseBlock());
    const CliRun delayed = runCli({"--config", config(), "doctor"}, {logind.environmentWord()});
    EXPECT_NE(delayed.out.find("  inhibitor:      WARN  an update only delays sleep and shutdown"),
              std::string::npos)
        << delayed.out;
    EXPECT_TRUE(logind.inhibitors(0).empty());
}

TEST_F(CliFixture, DoctorTakesNoArguments) {
    for (const char* extra : {"now", "--fix"}) {
        const CliRun run = simulated("flash-code", {"doctor", extra});
        EXPECT_EQ(run.exitStatus, 2) << extra;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
}

}  // namespace
}  // namespace velmora::testing
