// Where the runs that erase hold the host off the hub (FlashSpan): from just
// before the first erase request to the run's end, once the hub is back from the
// final reset, for an update, a scalar run, a restore, a recovery and the flash
// page's erase; the logind lock (on a stand-in) is held for exactly that span and
// not outside it; a run whose span is refused (the process is stopping) erases
// nothing; and an update without a system bus goes on.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/Console.h"
#include "device/VendorCommands.h"
#include "host/HostHold.h"
#include "tests/environment/RecoveryRig.h"
#include "tests/support/LogindStandIn.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashPage.h"
#include "workflows/ScalarUpdate.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::testing {
namespace {

// A process that is stopping: no span may begin.
class StoppingHost final : public FlashSpanHost {
public:
    bool enterSpan(const std::string&) override { return false; }
    void leaveSpan(const std::string&) override {}
};

// Notes how far the hub's requests had got, and how many locks logind held, when
// the span was entered and left; host is what really holds the span.
class SpanLog final : public FlashSpanHost {
public:
    SpanLog(sim::SimulatedHub& hub, FlashSpanHost& host, LogindStandIn* logind)
        : hub_(hub), host_(host), logind_(logind), before_(SimulatedHubs::wireOf(hub).size()) {}

    bool enterSpan(const std::string& portPath) override {
        ports.push_back(portPath);
        if (!host_.enterSpan(portPath)) return false;
        enteredAfter = wire().size();
        locksInside = locks(1);
        return true;
    }
    void leaveSpan(const std::string& portPath) override {
        leftAfter = wire().size();
        backAtTheEnd = hub_.isOnBus();
        locksAtTheEnd = locks(1);
        ++leaves;
        host_.leaveSpan(portPath);
    }
    // The hub's requests since the log was made.
    std::vector<std::array<std::uint8_t, 8>> wire() const {
        std::vector<std::array<std::uint8_t, 8>> all = SimulatedHubs::wireOf(hub_);
        all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(before_));
        return all;
    }
    // Without a stand-in nothing is counted.
    std::optional<std::size_t> locks(std::size_t expected) const {
        if (logind_ == nullptr) return std::nullopt;
        return logind_->inhibitors(expected).size();
    }

    std::vector<std::string> ports;  // one per span asked for
    std::size_t enteredAfter = 0;
    std::size_t leftAfter = 0;
    bool backAtTheEnd = false;  // the hub was back on the bus after its final reset
    std::optional<std::size_t> locksInside, locksAtTheEnd;
    int leaves = 0;

private:
    sim::SimulatedHub& hub_;
    FlashSpanHost& host_;
    LogindStandIn* logind_;
    std::size_t before_;
};

bool erases(const std::array<std::uint8_t, 8>& request) {
    return request[1] == vendor::kRequestEraseFlash;
}

enum class Run { Update, Scalar, Restore, Recover, Erase };

struct SpanCase {
    const char* name;
    Run run;
    const char* refusedLine;
};

class FlashSpanTest : public RecoveryRig, public ::testing::WithParamInterface<SpanCase> {
protected:
    // One stand-in for the table: each takes a moment to start.
    static void SetUpTestSuite() { logind_ = new LogindStandIn; }
    static void TearDownTestSuite() {
        delete logind_;
        logind_ = nullptr;
    }
    static LogindStandIn* logind() { return logind_->usable() ? logind_ : nullptr; }
    static const std::string& problem() { return logind_->problem(); }

    // What the run needs before it: a backup to restore, a hub left in ROM code to recover.
    void prepare() {
        if (GetParam().run == Run::Restore) {
            ASSERT_TRUE(updateFunc(recorded(), parsed(newImage_), "new.bin"));
        }
        if (GetParam().run == Run::Recover) failAnUpdateHalfWay();
    }

    bool run() {
        const WorkflowContext context = recorded();
        switch (GetParam().run) {
            case Run::Update: return updateFunc(context, parsed(newImage_), "new.bin");
            case Run::Scalar: {
                FirmwareBuffer scalar = parsed(newImage_);
                return updateScalar(context, scalar, {}, "new.bin");
            }
            case Run::Restore: return restoreTheBackup(context);
            case Run::Recover: return recover().step == RecoveryStep::Written;
            case Run::Erase: return eraseFunc_FwFlash(context);
        }
        return false;
    }

private:
    // As the command line's restore writes a kept backup back.
    bool restoreTheBackup(const WorkflowContext& context) {
        std::string error;
        const auto entries = store_.list(error);
        EXPECT_TRUE(entries && entries->size() == 1u) << error;
        if (!entries || entries->empty()) return false;
        const std::string& name = entries->front().sha256;
        const auto bytes = store_.load(name, error);
        EXPECT_TRUE(bytes) << error;
        return bytes &&
               updateFuncAs(context, backupImage(*bytes), name, RunOperation::Restore, name).succeeded;
    }

    static LogindStandIn* logind_;
};

LogindStandIn* FlashSpanTest::logind_ = nullptr;

TEST_P(FlashSpanTest, IsHeldWithTheLockFromTheFirstEraseRequestToTheRunsEnd) {
    prepare();
    if (logind() == nullptr) std::printf("no lock checked: %s\n", problem().c_str());
    host::HostHoldSettings settings;
    settings.inhibit = logind() != nullptr;
    settings.autosuspend = false;
    if (logind() != nullptr) settings.bus.busAddress = logind()->address();
    host::HostHold hold(std::move(settings));
    SpanLog span(*hub_, hold, logind());
    connection_->setFlashSpanHost(&span);
    if (logind() != nullptr) {
        EXPECT_TRUE(logind()->inhibitors(0).empty());
    }

    ASSERT_TRUE(run());
    const std::vector<std::array<std::uint8_t, 8>> wire = span.wire();
    ASSERT_EQ(span.ports, std::vector<std::string>{"1-1"});
    ASSERT_LT(span.enteredAfter, wire.size());
    EXPECT_TRUE(erases(wire[span.enteredAfter]));
    for (std::size_t index = 0; index < span.enteredAfter; ++index)
        EXPECT_FALSE(erases(wire[index])) << index;
    EXPECT_EQ(span.leaves, 1);
    EXPECT_EQ(span.leftAfter, wire.size());
    EXPECT_TRUE(span.backAtTheEnd);
    EXPECT_TRUE(
        std::any_of(wire.begin() + static_cast<std::ptrdiff_t>(span.enteredAfter), wire.end(),
                    [](const auto& request) { return request[1] == vendor::kRequestResetToFlashCode; }));
    if (logind() != nullptr) {
        EXPECT_EQ(span.locksInside, 1u);
        EXPECT_EQ(span.locksAtTheEnd, 1u);
        EXPECT_TRUE(logind()->inhibitors(0).empty());
    }
    EXPECT_FALSE(hold.insideSpan());
}

TEST_P(FlashSpanTest, ARefusedSpanErasesNothing) {
    prepare();
    StoppingHost stopping;
    SpanLog span(*hub_, stopping, nullptr);
    connection_->setFlashSpanHost(&span);
    EXPECT_FALSE(run());
    EXPECT_EQ(span.ports.size(), 1u);
    for (const auto& request : span.wire()) EXPECT_FALSE(erases(request));
    EXPECT_EQ(span.leaves, 0);
    EXPECT_NE(std::find(reporter_.events.begin(), reporter_.events.end(),
                        std::string("red:") + GetParam().refusedLine),
              reporter_.events.end());
    expectCleanEnding();
}

INSTANTIATE_TEST_SUITE_P(Runs, FlashSpanTest,
                         ::testing::Values(SpanCase{"Update", Run::Update, messages::kStoppingNotErased},
                                           SpanCase{"Scalar", Run::Scalar, messages::kStoppingNotErased},
                                           SpanCase{"Restore", Run::Restore, messages::kStoppingNotErased},
                                           SpanCase{"Recover", Run::Recover, messages::kStoppingNotErased},
                                           SpanCase{"Erase", Run::Erase, messages::kEraseStoppingNotErased}),
                         [](const auto& info) { return std::string(info.param.name); });

// Where there is no system bus the update goes on, and --verbose says why no lock.
class NoBusTest : public RecoveryRig {};

TEST_F(NoBusTest, AnUpdateGoesOnAndTheDiagnosticSaysWhy) {
    RecordingConsole console;
    host::HostHoldSettings settings;
    settings.autosuspend = false;
    settings.bus.busAddress = "unix:path=" + scratch_.path("no-bus");
    settings.console = &console;
    host::HostHold hold(std::move(settings));
    connection_->setFlashSpanHost(&hold);
    EXPECT_TRUE(updateFunc(recorded(), parsed(newImage_), "new.bin"));
    EXPECT_EQ(hub_->imageVersion(), kNewVersion);
    const std::vector<std::string> lines = console.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("velmora host: no logind lock") &&
               line.find("no system bus at") != std::string::npos;
    })) << ::testing::PrintToString(lines);
}

}  // namespace
}  // namespace velmora::testing
