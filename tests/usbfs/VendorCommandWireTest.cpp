// Every vendor command through libusb and the emulated usbfs: the eight setup
// bytes the hub receives, the data stage in both directions, and the status.
#include <numeric>

#include "EmulatedHubFixture.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"

namespace velmora::usbfs::testing {
namespace {

using Wire = std::array<std::uint8_t, 8>;

class VendorCommandWireTest : public EmulatedHubTest {
protected:
    void SetUp() override {
        hub_ = &addHub(1);
        hub_->setRunState(sim::RunState::RomCode);  // the flash commands need the ROM code
        startLibusb();
        ASSERT_TRUE(USB_OpenHub(*connection_));
        hub_->clearRequests();
    }
    const sim::RecordedRequest& onlyRequest() {
        requests_ = hub_->requests();
        EXPECT_EQ(requests_.size(), 1u);
        return requests_.at(0);
    }

    sim::SimulatedHub* hub_ = nullptr;
    std::vector<sim::RecordedRequest> requests_;
};

struct CommandCase {
    const char* name;
    IOReturn (*send)(HubConnection&);
    Wire wire;
};

// Names the case in test listings (and keeps the function pointer out of them).
void PrintTo(const CommandCase& command, std::ostream* stream) {
    *stream << command.name;
}

class CommandWithoutDataTest : public VendorCommandWireTest,
                               public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandWithoutDataTest, SendsItsSetupBytesAndSucceeds) {
    EXPECT_EQ(GetParam().send(*connection_), kIOReturnSuccess);
    const sim::RecordedRequest& request = onlyRequest();
    EXPECT_EQ(request.wireBytes, GetParam().wire);
    EXPECT_TRUE(request.outData.empty());
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandWithoutDataTest,
                         ::testing::Values(CommandCase{"ResetToRomCode",
                                                       [](HubConnection& c) { return VC_ResetToRomCode(c); },
                                                       {0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
                                           CommandCase{
                                               "ResetToFlashCode",
                                               [](HubConnection& c) { return VC_ResetToFlashCode(c); },
                                               {0x40, 0xE9, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00}},
                                           CommandCase{"EraseFlash",
                                                       [](HubConnection& c) { return VC_EraseFlash(0, c); },
                                                       {0x40, 0xE8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
                                           CommandCase{"OpenHandshake",
                                                       [](HubConnection& c) {
                                                           return USB_DeviceRequest(0x40, 0x02, 0x0001,
                                                                                    0x2E7A, 0, nullptr, c);
                                                       },
                                                       {0x40, 0x02, 0x01, 0x00, 0x7A, 0x2E, 0x00, 0x00}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VendorCommandWireTest, ReadStatusBringsTheStatusBlockBack) {
    hub_->setWaitSelector(1);
    std::array<std::uint8_t, vendor::kStatusBlockLength> block{};
    block.fill(0xEE);  // anything the transfer fails to overwrite shows
    ASSERT_EQ(VC_ReadStatus(block.data(), vendor::kStatusBlockLength, *connection_), kIOReturnSuccess);
    EXPECT_EQ(onlyRequest().wireBytes, (Wire{0xC0, 0x09, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00}));
    EXPECT_EQ(block, hub_->statusBlock());
    EXPECT_EQ(block[vendor::kStatusWaitSelector], 1);
}

TEST_F(VendorCommandWireTest, StatusReadersInterpretTheBlock) {
    hub_->setRunState(sim::RunState::FlashCode);
    EXPECT_EQ(VC_GetFwVersion(*connection_), kImageVersion);
    EXPECT_FALSE(VC_IsRomMode(*connection_));
    hub_->setRunState(sim::RunState::RomCode);
    EXPECT_EQ(VC_GetFwVersion(*connection_), sim::kDefaultRomVersion);
    EXPECT_TRUE(VC_IsRomMode(*connection_));
}

TEST_F(VendorCommandWireTest, WriteFlashSendsSetupAndEveryDataByte) {
    ASSERT_EQ(VC_EraseFlash(0, *connection_), kIOReturnSuccess);
    hub_->clearRequests();
    std::vector<std::uint8_t> bytes(1000);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{3});
    ASSERT_EQ(VC_WriteFlash(0, bytes.data(), 1000, *connection_), kIOReturnSuccess);
    const sim::RecordedRequest& request = onlyRequest();
    EXPECT_EQ(request.wireBytes, (Wire{0x40, 0xC8, 0x00, 0x00, 0x00, 0x00, 0xE8, 0x03}));
    EXPECT_EQ(request.outData, bytes);
    const std::vector<std::uint8_t> flash = hub_->flashContents();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin()));
}

TEST_F(VendorCommandWireTest, ReadFlashOfTheLastChunkBringsItsBytesBack) {
    constexpr std::uint32_t kLastChunk = 28672;
    std::vector<std::uint8_t> image(sim::kFlashBytes);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    hub_->loadFlashImage(image);
    hub_->setRunState(sim::RunState::RomCode);
    hub_->clearRequests();

    std::vector<std::uint8_t> chunk(4096, 0xEE);
    ASSERT_EQ(VC_ReadFlash(kLastChunk, chunk.data(), 4096, *connection_), kIOReturnSuccess);
    EXPECT_EQ(onlyRequest().wireBytes, (Wire{0xC0, 0xD8, 0x00, 0x70, 0x00, 0x00, 0x00, 0x10}));
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), image.begin() + kLastChunk));
}

TEST_F(VendorCommandWireTest, AddressAbove64KiBPutsItsUpperHalfInIndex) {
    std::vector<std::uint8_t> chunk(16);
    // Beyond this hub's flash: it stalls, and the stall comes back as a status.
    EXPECT_EQ(VC_ReadFlash(65536 + 8192, chunk.data(), 16, *connection_), kIOUSBPipeStalled);
    const sim::RecordedRequest& request = onlyRequest();
    EXPECT_EQ(request.setup.wValue, 0x2000);
    EXPECT_EQ(request.setup.wIndex, 0x0001);
    EXPECT_EQ(request.wireBytes, (Wire{0xC0, 0xD8, 0x00, 0x20, 0x01, 0x00, 0x10, 0x00}));
}

}  // namespace
}  // namespace velmora::usbfs::testing
