// The vendor requests as they go on the wire, and the status block readers and parser.
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "device/UsbConnection.h"
#include "device/VendorCommands.h"
#include "tests/device/DeviceTestRig.h"

namespace velmora::devicetest {
namespace {

class VendorCommandTest : public ::testing::Test {
protected:
    VendorCommandTest() { table.set(0, kVendorId, kSuperSpeedId, kHighSpeedId); }

    // Opens, forgets the handshake, and leaves the wire to the command under test.
    void open() {
        ASSERT_TRUE(USB_OpenHub(connection));
        platform.sent.clear();
    }

    static ScriptedAnswer statusBlock(std::size_t byte, std::uint8_t value) {
        ScriptedAnswer answer;
        answer.data.assign(32, 0);
        answer.data[byte] = value;
        return answer;
    }

    VirtualClock clock;
    SupportedDeviceTable table;
    ScriptedPlatform platform;
    HubConnection connection{platform, table, clock};
};

struct WireCase {
    const char* name;
    std::function<IOReturn(HubConnection&)> send;
    Wire wire;
};

TEST_F(VendorCommandTest, EachCommandSendsItsSetupBytes) {
    static std::uint8_t buffer[4096];
    const std::vector<WireCase> cases = {
        {"status", [](HubConnection& c) { return VC_ReadStatus(buffer, 32, c); }, kStatusRead},
        {"reset to ROM code", [](HubConnection& c) { return VC_ResetToRomCode(c); }, kResetToRom},
        {"reset to flash code", [](HubConnection& c) { return VC_ResetToFlashCode(c); }, kResetToFlash},
        {"erase at 0", [](HubConnection& c) { return VC_EraseFlash(0, c); }, kErase},
        {"erase above 64 KiB",
         [](HubConnection& c) { return VC_EraseFlash(0x00012000, c); },
         {0x40, 0xE8, 0x00, 0x20, 0x01, 0x00, 0x00, 0x00}},
        {"read of the last chunk",
         [](HubConnection& c) { return VC_ReadFlash(28672, buffer, 4096, c); },
         {0xC0, 0xD8, 0x00, 0x70, 0x00, 0x00, 0x00, 0x10}},
        {"read above 64 KiB",
         [](HubConnection& c) { return VC_ReadFlash(65536 + 8192, buffer, 16, c); },
         {0xC0, 0xD8, 0x00, 0x20, 0x01, 0x00, 0x10, 0x00}},
        {"write of one byte at 4096",
         [](HubConnection& c) { return VC_WriteFlash(4096, buffer, 1, c); },
         {0x40, 0xC8, 0x00, 0x10, 0x00, 0x00, 0x01, 0x00}},
    };
    open();
    for (const WireCase& command : cases) {
        SCOPED_TRACE(command.name);
        platform.sent.clear();
        EXPECT_EQ(command.send(connection), kIOReturnSuccess);
        ASSERT_EQ(platform.sent.size(), 1u);
        EXPECT_EQ(platform.sent[0].wire, command.wire);
    }
}

TEST_F(VendorCommandTest, WriteSendsTheSetupAndEveryDataByte) {
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13);
    open();
    EXPECT_EQ(VC_WriteFlash(0, bytes.data(), 1000, connection), kIOReturnSuccess);
    ASSERT_EQ(platform.sent.size(), 1u);
    EXPECT_EQ(platform.sent[0].wire, (Wire{0x40, 0xC8, 0x00, 0x00, 0x00, 0x00, 0xE8, 0x03}));
    EXPECT_EQ(platform.sent[0].outData, bytes);
}

TEST_F(VendorCommandTest, VersionIsBytesTenAndElevenHighFirst) {
    open();
    ScriptedAnswer answer = statusBlock(10, 0x12);
    answer.data[11] = 0x34;
    platform.answers.push_back(answer);
    EXPECT_EQ(VC_GetFwVersion(connection), 0x1234);
    ASSERT_EQ(platform.sent.size(), 1u);
    EXPECT_EQ(platform.sent[0].wire, kStatusRead);
}

TEST_F(VendorCommandTest, FailedStatusReadGivesVersionZeroEvenIfBytesArrived) {
    open();
    ScriptedAnswer answer = statusBlock(10, 0x12);
    answer.status = kIOUSBPipeStalled;
    platform.answers.push_back(answer);
    EXPECT_EQ(VC_GetFwVersion(connection), 0);
}

TEST_F(VendorCommandTest, RomModeFollowsTheFlashCodeFlagOnly) {
    struct Case {
        std::uint8_t flags;
        bool rom;
    };
    open();
    for (const Case& c : {Case{0x02, false}, Case{0xFF, false}, Case{0x00, true}, Case{0xFD, true}}) {
        SCOPED_TRACE(static_cast<int>(c.flags));
        platform.answers.push_back(statusBlock(15, c.flags));
        EXPECT_EQ(VC_IsRomMode(connection), c.rom);
    }
}

TEST_F(VendorCommandTest, FailedStatusReadIsNotRomMode) {
    open();
    ScriptedAnswer answer = statusBlock(15, 0x00);
    answer.status = kIOReturnTimeout;
    platform.answers.push_back(answer);
    EXPECT_FALSE(VC_IsRomMode(connection));
}

TEST_F(VendorCommandTest, ReadersClearTheBlockBeforeEachRead) {
    // A hub that answers with no data at all leaves a cleared block: version 0, ROM code.
    open();
    EXPECT_EQ(VC_GetFwVersion(connection), 0);
    EXPECT_TRUE(VC_IsRomMode(connection));
}

TEST_F(VendorCommandTest, HubStatusParsesTheThreeFieldsAndTellsTheSightingObserver) {
    std::vector<HubConnection::HubSighting> sightings;
    connection.setSightingObserver(
        [&](const HubConnection::HubSighting& seen) { sightings.push_back(seen); });
    open();
    ScriptedAnswer answer = statusBlock(10, 0x12);
    answer.data[11] = 0x34;
    answer.data[13] = 1;
    answer.data[15] = 0xFF;  // only bit 1 counts
    platform.answers.push_back(answer);
    const std::optional<HubStatus> status = VC_ReadHubStatus(connection);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, (HubStatus{0x1234, true, 1}));
    ASSERT_EQ(platform.sent.size(), 1u);
    EXPECT_EQ(platform.sent[0].wire, kStatusRead);
    // The open, then the status read; a raw VC_ReadStatus is not looked into.
    ASSERT_EQ(sightings.size(), 2u);
    EXPECT_FALSE(sightings[0].status);
    EXPECT_EQ(sightings[1].status, status);
    std::uint8_t raw[32] = {};
    platform.answers.push_back(answer);
    EXPECT_EQ(VC_ReadStatus(raw, 32, connection), kIOReturnSuccess);
    EXPECT_EQ(sightings.size(), 2u);
    // A failed read gives no status and tells nobody.
    answer.status = kIOUSBPipeStalled;
    platform.answers.push_back(answer);
    EXPECT_EQ(VC_ReadHubStatus(connection), std::nullopt);
    EXPECT_EQ(sightings.size(), 2u);
}

TEST(HubStatusTest, BlockRoundTripsAndOnlyFlashCodeRunsAVersion) {
    for (const HubStatus& status : {HubStatus{0xABCD, true, 1}, HubStatus{0x0001, false, 0}}) {
        const StatusBlock block = statusBlockOf(status);
        EXPECT_EQ(parseHubStatus(block), status);
        EXPECT_EQ(block[10] << 8 | block[11], status.firmwareVersion);
        EXPECT_EQ(block[13], status.waitSelector);
        EXPECT_EQ(block[15], status.flashCode ? 0x02 : 0x00);
    }
    EXPECT_EQ(runningVersion(HubStatus{0xABCD, true, 0}), 0xABCD);
    EXPECT_EQ(runningVersion(HubStatus{0x0001, false, 0}), std::nullopt);
    EXPECT_EQ(runningVersion(std::nullopt), std::nullopt);
    EXPECT_EQ(runningVersionText(HubStatus{0xABCD, true, 0}), "abcd");
    EXPECT_EQ(runningVersionText(HubStatus{0x0001, false, 0}), "rom");
    EXPECT_EQ(runningVersionText(std::nullopt), "----");
    EXPECT_EQ(hubVersionText(0x0102), "0102");
}

TEST_F(VendorCommandTest, NothingOpenSendsNothingAndAnswersNotFound) {
    std::uint8_t buffer[64] = {};
    EXPECT_EQ(VC_ReadStatus(buffer, 32, connection), 0xE00002F0u);
    EXPECT_EQ(VC_ResetToRomCode(connection), kIOReturnNotFound);
    EXPECT_EQ(VC_ResetToFlashCode(connection), kIOReturnNotFound);
    EXPECT_EQ(VC_EraseFlash(0, connection), kIOReturnNotFound);
    EXPECT_EQ(VC_WriteFlash(0, buffer, 64, connection), kIOReturnNotFound);
    EXPECT_EQ(VC_ReadFlash(0, buffer, 64, connection), kIOReturnNotFound);
    EXPECT_EQ(USB_DeviceRequest(0x40, 0x02, 1, 0x2E7A, 0, nullptr, connection), kIOReturnNotFound);
    EXPECT_EQ(VC_GetFwVersion(connection), 0);
    EXPECT_FALSE(VC_IsRomMode(connection));
    EXPECT_TRUE(platform.sent.empty());
}

TEST_F(VendorCommandTest, FailureStatusIsPassedUpUnchangedAndTheConnectionStays) {
    open();
    for (IOReturn status : {kIOUSBPipeStalled, kIOReturnTimeout, kIOReturnNoDevice, 0x12345678u}) {
        platform.answers.push_back({status, {}});
        EXPECT_EQ(VC_EraseFlash(0, connection), status);
        EXPECT_TRUE(connection.isOpen());
    }
}

// The platform is told how long each request may take: the connection's limit,
// five seconds unless the connection was given another.
TEST_F(VendorCommandTest, RequestsCarryTheConnectionsTimeoutToThePlatform) {
    open();
    VC_ResetToRomCode(connection);
    connection.setControlTimeout(Milliseconds{250});
    VC_ResetToRomCode(connection);
    EXPECT_EQ(platform.timeouts, ms({5000, 5000, 250}));  // the handshake, then the two resets
}

// The erase waits for a whole chip erase, which a slow flash takes far longer
// over than any other request: it goes out with a limit of its own.
TEST_F(VendorCommandTest, TheEraseCarriesItsOwnLongerTimeout) {
    open();
    VC_EraseFlash(0, connection);
    VC_ReadFlash(0, std::array<std::uint8_t, 64>{}.data(), 64, connection);
    connection.setEraseTimeout(Milliseconds{700});
    VC_EraseFlash(0, connection);
    EXPECT_GT(kEraseRequestTimeout, kControlTransferTimeout);
    // The handshake of the open, the erase, the read, the erase with a shortened limit.
    EXPECT_EQ(platform.timeouts, (std::vector<Milliseconds>{kControlTransferTimeout, kEraseRequestTimeout,
                                                            kControlTransferTimeout, Milliseconds{700}}));
}

}  // namespace
}  // namespace velmora::devicetest
