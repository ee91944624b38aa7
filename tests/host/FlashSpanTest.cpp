// Where the runs hold the host off the hub (FlashSpan): from just before the first
// erase request to the run's end, once the hub is back from the final reset; and
// a run whose span is refused (the process is stopping) erases nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "device/VendorCommands.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashPage.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::testing {
namespace {

// Notes how far the hub's requests had got when the span was entered and left.
class SpanLog final : public FlashSpanHost {
public:
    SpanLog(sim::SimulatedHub& hub, bool refuse) : hub_(hub), refuse_(refuse) {}

    bool enterSpan(const std::string& portPath) override {
        enteredAfter = SimulatedHubs::wireOf(hub_).size();
        ports.push_back(portPath);
        return !refuse_;
    }
    void leaveSpan(const std::string&) override {
        leftAfter = SimulatedHubs::wireOf(hub_).size();
        backAtTheEnd = hub_.isOnBus();
        ++leaves;
    }

    std::vector<std::string> ports;  // one per span entered
    std::size_t enteredAfter = 0;
    std::size_t leftAfter = 0;
    bool backAtTheEnd = false;  // the hub was back on the bus after its final reset
    int leaves = 0;

private:
    sim::SimulatedHub& hub_;
    bool refuse_;
};

bool erases(const std::array<std::uint8_t, 8>& request) {
    return request[1] == vendor::kRequestEraseFlash;
}

struct SpanRun {
    const char* name;
    std::function<bool(const WorkflowContext&, const FirmwareBuffer& image)> run;
    const char* refusedLine;
};

class FlashSpanTest : public SimulatedHubFixture, public ::testing::WithParamInterface<SpanRun> {
protected:
    FirmwareBuffer image_ = parsed(sampleImage(8192, 0x0200));
};

TEST_P(FlashSpanTest, IsHeldFromTheFirstEraseRequestToTheRunsEnd) {
    SpanLog span(*hub_, false);
    connection_->setFlashSpanHost(&span);
    ASSERT_TRUE(GetParam().run(context(), image_));
    const std::vector<std::array<std::uint8_t, 8>> wire = SimulatedHubs::wireOf(*hub_);
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
}

TEST_P(FlashSpanTest, ARefusedSpanErasesNothing) {
    SpanLog span(*hub_, true);
    connection_->setFlashSpanHost(&span);
    EXPECT_FALSE(GetParam().run(context(), image_));
    for (const auto& request : SimulatedHubs::wireOf(*hub_)) EXPECT_FALSE(erases(request));
    EXPECT_EQ(span.leaves, 0);
    EXPECT_NE(std::find(reporter_.events.begin(), reporter_.events.end(),
                        std::string("red:") + GetParam().refusedLine),
              reporter_.events.end());
    expectCleanEnding();
}

INSTANTIATE_TEST_SUITE_P(Runs, FlashSpanTest,
                         ::testing::Values(SpanRun{"Update",
                                                   [](const WorkflowContext& context,
                                                      const FirmwareBuffer& image) {
                                                       return updateFunc(context, image, "fw.bin");
                                                   },
                                                   messages::kStoppingNotErased},
                                           SpanRun{"Erase",
                                                   [](const WorkflowContext& context, const FirmwareBuffer&) {
                                                       return eraseFunc_FwFlash(context);
                                                   },
                                                   messages::kEraseStoppingNotErased}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::testing
