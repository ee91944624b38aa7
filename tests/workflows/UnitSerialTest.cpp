// A unit's own serial number: set into the image by the identity editor's rules
// (only the string area and the serial's edit flag change), refused when it does
// not fit beside the manufacturer and product, and read back from the hub after
// the update, which fails when the hub reports another one.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/SerialString.h"
#include "device/simulated/HubFaults.h"
#include "editor/DescriptorFields.h"
#include "firmware/ImageLayout.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/EasyUpdate.h"
#include "workflows/RunObserver.h"
#include "workflows/UnitSerial.h"

namespace velmora::testing {
namespace {

// The serials the runs' records were told.
class SerialRecord final : public RunObserver {
public:
    std::unique_ptr<RunLog> runStarted(const RunStart& start) override {
        imageSerials.push_back(start.imageSerial);
        return std::make_unique<Log>(*this);
    }
    std::vector<std::string> imageSerials;
    std::vector<std::string> reported;

private:
    class Log final : public RunLog {
    public:
        explicit Log(SerialRecord& owner) : owner_(owner) {}
        void phaseStarted(RunPhase) override {}
        void hubSeen(const HubConnection::HubSighting&) override {}
        void serialRead(const std::string& serial) override { owner_.reported.push_back(serial); }
        void ended(const RunEnd&) override {}

    private:
        SerialRecord& owner_;
    };
};

class UnitSerialTest : public SimulatedHubFixture {
protected:
    FirmwareBuffer image_ = parsed(sampleImage(8192, 0x0203));
    SerialRecord record_;
    WorkflowContext recorded() {
        return WorkflowContext{reporter_, *connection_, nullptr, nullptr, &record_};
    }
};

TEST(SerialFormatTest, PadsTheNumberAndKnowsItsLast) {
    const SerialFormat format{"ZH-", 6};
    EXPECT_EQ(format.serialOf(42), "ZH-000042");
    EXPECT_EQ(format.serialOf(999999), "ZH-999999");
    EXPECT_EQ(format.lastNumber(), 999999u);
    EXPECT_EQ(format.serialBytes(), 9u);
    EXPECT_EQ((SerialFormat{"", kMostSerialDigits}.lastNumber()), 999999999999999999ULL);
}

TEST_F(UnitSerialTest, OnlyTheStringAreaAndTheSerialFlagChange) {
    const std::optional<FirmwareBuffer> unit = imageWithSerial(image_, "ZH000123");
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->serial, "ZH000123");
    EXPECT_EQ(unit->manufacturer, image_.manufacturer);
    EXPECT_EQ(unit->product, image_.product);
    const std::size_t block = *image_.block;
    for (std::size_t at = 0; at < image_.data.size(); ++at) {
        const bool inArea = at >= block + image::kStringsOffset && at < block + image::kStringsOffset + 35;
        if (at == block + image::kStringEditFlagsOffset) {
            EXPECT_EQ(unit->data[at], image_.data[at] | 0x02) << at;
        } else if (!inArea) {
            EXPECT_EQ(unit->data[at], image_.data[at]) << at;
        }
    }
    EXPECT_TRUE(FW_SerialEdited(*unit));
    EXPECT_FALSE(FW_SerialEdited(image_));
    // A fresh parse of the unit's image reads the serial back.
    EXPECT_EQ(parsed(unit->data).serial, "ZH000123");
}

TEST_F(UnitSerialTest, ASerialThatDoesNotFitIsRefusedAndTheImageKept) {
    // "Norvex" and "Zelo Hub" take 14 of the 29 bytes.
    const std::size_t room = image::kMaximumStringBytes - image_.manufacturer.size() - image_.product.size();
    EXPECT_TRUE(serialFitsImage(image_, room));
    EXPECT_TRUE(imageWithSerial(image_, std::string(room, '7')));
    EXPECT_FALSE(serialFitsImage(image_, room + 1));
    FirmwareBuffer copy = image_;
    EXPECT_FALSE(FW_SetSerialNumber(copy, std::string(room + 1, '7')));
    EXPECT_EQ(copy.data, image_.data);
    EXPECT_EQ(serialTooLong(image_, room + 1),
              "a serial number of 16 bytes does not fit the image: its manufacturer 'Norvex' and product "
              "'Zelo Hub' take 14 of the 29 bytes the three strings share");
}

TEST_F(UnitSerialTest, TheHubReportsTheSerialAfterTheUpdateAndItIsRecorded) {
    const FirmwareBuffer unit = *imageWithSerial(image_, "ZH000123");
    EXPECT_TRUE(updateFunc(recorded(), unit, "/images/unit.bin"));
    EXPECT_EQ(record_.imageSerials, std::vector<std::string>{"ZH000123"});
    EXPECT_EQ(record_.reported, std::vector<std::string>{"ZH000123"});
    EXPECT_EQ(hub_->serialNumber(), "ZH000123");
    ASSERT_TRUE(connection_->openHub());
    EXPECT_EQ(USB_ReadSerialNumber(*connection_), "ZH000123");
    connection_->closeHub();
}

TEST_F(UnitSerialTest, AHubThatReportsAnotherSerialFailsTheUnit) {
    sim::HubFaults faults;
    faults.reportedSerial = "ROM-DEFAULT";
    hub_->setFaults(faults);
    const FirmwareBuffer unit = *imageWithSerial(image_, "ZH000123");
    EXPECT_FALSE(updateFunc(recorded(), unit, "/images/unit.bin"));
    EXPECT_NE(reporter_.pane.find("Reset to Flash Code...\nFail to verify serial number\nUpdate FW Fail\n"),
              std::string::npos)
        << reporter_.pane;
    EXPECT_EQ(record_.reported, std::vector<std::string>{"ROM-DEFAULT"});
    expectCleanEnding();
}

TEST_F(UnitSerialTest, AnImageThatDoesNotSetTheSerialIsOnlyRecorded) {
    // Without the serial's edit flag the hub may show a serial of its own.
    sim::HubFaults faults;
    faults.reportedSerial = "ROM-DEFAULT";
    hub_->setFaults(faults);
    EXPECT_TRUE(updateFunc(recorded(), image_, "/images/plain.bin"));
    EXPECT_EQ(record_.reported, std::vector<std::string>{"ROM-DEFAULT"});
}

TEST(SerialDescriptorTest, DecodesTheHubsWidenedBytesAndRefusesOthers) {
    const std::vector<std::uint8_t> good = {10, 0x03, 'Z', 0, 'H', 0, 0xE9, 0, 0x34, 0x12};
    EXPECT_EQ(serialFromStringDescriptor(good.data(), good.size()), std::string("ZH\xE9?"));
    const std::vector<std::uint8_t> wrongType = {4, 0x02, 'Z', 0};
    EXPECT_FALSE(serialFromStringDescriptor(wrongType.data(), wrongType.size()));
    const std::vector<std::uint8_t> wrongLength = {6, 0x03, 'Z', 0};
    EXPECT_FALSE(serialFromStringDescriptor(wrongLength.data(), wrongLength.size()));
    const std::vector<std::uint8_t> odd = {5, 0x03, 'Z', 0, 'H'};
    EXPECT_FALSE(serialFromStringDescriptor(odd.data(), odd.size()));
    const std::vector<std::uint8_t> empty = {2, 0x03};
    EXPECT_EQ(serialFromStringDescriptor(empty.data(), empty.size()), std::string());
}

TEST_F(UnitSerialTest, AHubInRomCodeShowsNoSerial) {
    hub_->setRunState(sim::RunState::RomCode);
    ASSERT_TRUE(connection_->openHub());
    EXPECT_FALSE(USB_ReadSerialNumber(*connection_));
    connection_->closeHub();
}

}  // namespace
}  // namespace velmora::testing
