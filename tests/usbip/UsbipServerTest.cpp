#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <vector>

#include "device/VendorCommands.h"
#include "device/simulated/SimulatedHub.h"
#include "firmware/ImageLayout.h"
#include "tests/support/ScratchFolder.h"
#include "usbip/ServerControl.h"
#include "usbip/UsbipServer.h"

using namespace velmora;
using namespace velmora::usbip;

namespace {

constexpr std::uint16_t kVendorId = 0x2FE3;
constexpr std::uint16_t kSuperSpeedId = 0x0611;
constexpr std::uint16_t kHighSpeedId = 0x0610;

// The kernel's side of the cable: keeps its end of each socket pair it is given.
class FakeController final : public VirtualHostController {
public:
    ~FakeController() override { closeCable(); }
    bool attach(int socket, std::uint32_t, bool superSpeed, std::string& error) override {
        if (refuse) {
            error = "refused";
            return false;
        }
        closeCable();
        cable = ::dup(socket);
        speeds.push_back(superSpeed);
        return true;
    }
    bool detach(bool, std::string&) override {
        ++detaches;
        closeCable();
        return true;
    }
    void closeCable() {
        if (cable >= 0) ::close(cable);
        cable = -1;
    }
    int cable = -1;
    bool refuse = false;
    int detaches = 0;
    std::vector<bool> speeds;
};

void putWord(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(word >> (24 - 8 * i));
}

std::uint32_t wordAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word = word << 8 | bytes[offset + static_cast<std::size_t>(i)];
    return word;
}

std::vector<std::uint8_t> submitBytes(std::uint32_t seqnum, const UsbSetup& setup,
                                      std::uint32_t endpoint = 0) {
    std::vector<std::uint8_t> bytes(kHeaderBytes, 0);
    putWord(bytes, 0, 1);
    putWord(bytes, 4, seqnum);
    putWord(bytes, 12, setup.isDeviceToHost() ? 1 : 0);
    putWord(bytes, 16, endpoint);
    putWord(bytes, 24, setup.wLength);
    const auto wire = setup.wireBytes();
    std::copy(wire.begin(), wire.end(), bytes.begin() + 40);
    return bytes;
}

struct Reply {
    std::uint32_t command = 0;
    std::uint32_t seqnum = 0;
    std::int32_t status = 0;
    std::int32_t actualLength = 0;
    std::vector<std::uint8_t> data;
};

class UsbipServerTest : public ::testing::Test {
protected:
    UsbipServerTest() : hub_(config(), clock_), server_(hub_, controller_, log_) {}

    static sim::SimulatedHubConfig config() {
        sim::SimulatedHubConfig result;
        result.vendorId = kVendorId;
        result.superSpeedProductId = kSuperSpeedId;
        result.highSpeedProductId = kHighSpeedId;
        return result;
    }

    void send(std::uint32_t seqnum, const UsbSetup& setup, const std::vector<std::uint8_t>& outData = {},
              std::uint32_t endpoint = 0) {
        std::vector<std::uint8_t> bytes = submitBytes(seqnum, setup, endpoint);
        bytes.insert(bytes.end(), outData.begin(), outData.end());
        ASSERT_EQ(::write(controller_.cable, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Sends the request, lets the server answer it, and reads the answer.
    Reply exchange(std::uint32_t seqnum, const UsbSetup& setup, const std::vector<std::uint8_t>& outData = {},
                   std::uint32_t endpoint = 0) {
        send(seqnum, setup, outData, endpoint);
        server_.serveFor(Milliseconds(0));
        return readReply(setup.isDeviceToHost());
    }

    Reply readReply(bool withData) {
        std::vector<std::uint8_t> header(kHeaderBytes);
        Reply reply;
        if (::recv(controller_.cable, header.data(), header.size(), MSG_WAITALL | MSG_DONTWAIT) !=
            static_cast<ssize_t>(header.size()))
            return reply;
        reply.command = wordAt(header, 0);
        reply.seqnum = wordAt(header, 4);
        reply.status = static_cast<std::int32_t>(wordAt(header, 20));
        reply.actualLength = static_cast<std::int32_t>(wordAt(header, 24));
        if (withData && reply.command == 3 && reply.actualLength > 0) {
            reply.data.resize(static_cast<std::size_t>(reply.actualLength));
            ::recv(controller_.cable, reply.data.data(), reply.data.size(), MSG_WAITALL);
        }
        return reply;
    }

    bool nothingToRead() {
        std::uint8_t byte = 0;
        return ::recv(controller_.cable, &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
    }

    VirtualClock clock_;
    sim::SimulatedHub hub_;
    FakeController controller_;
    std::ostringstream log_;
    UsbipServer server_;
};

const UsbSetup kDeviceDescriptor{0x80, 0x06, 0x0100, 0, 64};
const UsbSetup kStatusRead{vendor::kDeviceToHost, vendor::kRequestReadStatus, 0, 0, 32};

TEST_F(UsbipServerTest, AnswersEnumerationFromTheHubsDescriptors) {
    server_.serveFor(Milliseconds(0));
    ASSERT_TRUE(server_.attached());
    EXPECT_EQ(controller_.speeds, std::vector<bool>{true});

    const Reply device = exchange(1, kDeviceDescriptor);
    EXPECT_EQ(device.command, 3u);
    EXPECT_EQ(device.seqnum, 1u);
    EXPECT_EQ(device.status, 0);
    ASSERT_EQ(device.data.size(), 18u);  // only what there is, not the 64 asked for
    EXPECT_EQ(device.data[8] | device.data[9] << 8, kVendorId);
    EXPECT_EQ(device.data[10] | device.data[11] << 8, kSuperSpeedId);

    const Reply firstBytes = exchange(2, {0x80, 0x06, 0x0200, 0, 9});
    ASSERT_EQ(firstBytes.data.size(), 9u);
    const Reply whole = exchange(3, {0x80, 0x06, 0x0200, 0, static_cast<std::uint16_t>(firstBytes.data[2])});
    EXPECT_EQ(whole.data.size(), firstBytes.data[2]);
    EXPECT_EQ(whole.data[14], 0xFF) << "the interface is vendor-specific";

    struct Case {
        const char* what;
        UsbSetup setup;
        std::int32_t status;
    };
    for (const Case& c : {Case{"BOS", {0x80, 0x06, 0x0F00, 0, 5}, -EPIPE},
                          Case{"string", {0x80, 0x06, 0x0300, 0, 255}, -EPIPE},
                          Case{"unknown configuration", {0x00, 0x09, 2, 0, 0}, -EPIPE},
                          Case{"set configuration", {0x00, 0x09, 1, 0, 0}, 0},
                          Case{"class request", {0xA0, 0x06, 0x2900, 0, 4}, -EPIPE}}) {
        EXPECT_EQ(exchange(10, c.setup).status, c.status) << c.what;
    }
    const Reply configuration = exchange(20, {0x80, 0x08, 0, 0, 1});
    EXPECT_EQ(configuration.data, std::vector<std::uint8_t>{1});
    EXPECT_EQ(exchange(21, kDeviceDescriptor, {}, 1).status, -EPIPE) << "the hub has only endpoint 0";
}

TEST_F(UsbipServerTest, VendorRequestsReachTheModelBothWays) {
    server_.serveFor(Milliseconds(0));
    hub_.setRunState(sim::RunState::RomCode);

    const Reply status = exchange(1, kStatusRead);
    EXPECT_EQ(status.status, 0);
    const auto block = hub_.statusBlock();
    EXPECT_EQ(status.data, std::vector<std::uint8_t>(block.begin(), block.end()));

    ASSERT_EQ(exchange(2, {vendor::kHostToDevice, vendor::kRequestEraseFlash, 0, 0, 0}).status, 0);
    const std::vector<std::uint8_t> chunk{0x12, 0x34, 0x56, 0x78};
    const Reply written =
        exchange(3, {vendor::kHostToDevice, vendor::kRequestWriteFlash, 0x0100, 0, 4}, chunk);
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(written.actualLength, 4);
    EXPECT_TRUE(nothingToRead()) << "a host-to-device reply carries no data";
    EXPECT_EQ(hub_.flashContents()[0x100], 0x12);
    EXPECT_EQ(hub_.flashContents()[0x103], 0x78);

    const Reply read = exchange(4, {vendor::kDeviceToHost, vendor::kRequestReadFlash, 0x0100, 0, 4});
    EXPECT_EQ(read.data, chunk);
}

TEST_F(UsbipServerTest, ModelFaultsBecomeUrbOutcomes) {
    server_.serveFor(Milliseconds(0));
    sim::HubFaults faults;
    faults.failures.push_back({sim::RequestKind::ReadStatus, 1, sim::Outcome::Stalled});
    faults.failures.push_back({sim::RequestKind::ReadStatus, 1, sim::Outcome::TimedOut});
    hub_.setFaults(faults);

    EXPECT_EQ(exchange(1, kStatusRead).status, -EPIPE);

    send(2, kStatusRead);
    server_.serveFor(Milliseconds(0));
    EXPECT_TRUE(nothingToRead()) << "a transfer that times out is left unanswered";
    std::vector<std::uint8_t> unlink(kHeaderBytes, 0);
    putWord(unlink, 0, 2);
    putWord(unlink, 4, 3);
    putWord(unlink, 20, 2);
    ASSERT_EQ(::write(controller_.cable, unlink.data(), unlink.size()), static_cast<ssize_t>(unlink.size()));
    server_.serveFor(Milliseconds(0));
    const Reply taken = readReply(false);
    EXPECT_EQ(taken.command, 4u);
    EXPECT_EQ(taken.seqnum, 3u);
    EXPECT_EQ(taken.status, -ECONNRESET);

    putWord(unlink, 4, 4);  // the same submit again: it is no longer held
    ASSERT_EQ(::write(controller_.cable, unlink.data(), unlink.size()), static_cast<ssize_t>(unlink.size()));
    server_.serveFor(Milliseconds(0));
    EXPECT_EQ(readReply(false).status, 0);
    EXPECT_EQ(exchange(5, kStatusRead).status, 0);
}

TEST_F(UsbipServerTest, ResetUnplugsTheHubAndPlugsItInAgainAfterItsRebootTime) {
    server_.serveFor(Milliseconds(0));
    const std::uint64_t before = hub_.enumeration();

    send(1, {vendor::kHostToDevice, vendor::kRequestResetToRomCode, 0, 0, 0});
    server_.serveFor(Milliseconds(0));
    EXPECT_TRUE(server_.attached()) << "the answer to the reset is not read yet";
    const Reply reset = readReply(false);
    EXPECT_EQ(reset.status, 0) << "the reset is answered before the hub leaves";
    server_.serveFor(Milliseconds(0));
    EXPECT_FALSE(server_.attached());
    EXPECT_EQ(controller_.detaches, 1);

    server_.serveFor(Milliseconds(0));
    EXPECT_FALSE(server_.attached()) << "still rebooting";
    clock_.advance(sim::kDefaultRebootTime);
    server_.serveFor(Milliseconds(0));
    ASSERT_TRUE(server_.attached());
    EXPECT_EQ(server_.attachments(), 2);
    EXPECT_NE(hub_.enumeration(), before);
    EXPECT_EQ(hub_.runState(), sim::RunState::RomCode);
    EXPECT_EQ(exchange(2, kStatusRead).status, 0);

    // The kernel may drop the cable itself; the hub is plugged in again next round.
    controller_.closeCable();
    server_.serveFor(Milliseconds(0));
    EXPECT_FALSE(server_.attached());
    server_.serveFor(Milliseconds(0));
    EXPECT_TRUE(server_.attached());
    EXPECT_EQ(server_.attachments(), 3);

    server_.stop();
    EXPECT_FALSE(server_.attached());
    EXPECT_EQ(controller_.detaches, 2);
}

TEST_F(UsbipServerTest, RefusedAttachIsNotRetriedForTheSameEnumeration) {
    controller_.refuse = true;
    server_.serveFor(Milliseconds(0));
    server_.serveFor(Milliseconds(0));
    EXPECT_FALSE(server_.attached());
    EXPECT_EQ(server_.attachments(), 0);
    EXPECT_NE(log_.str().find("refused the hub: refused"), std::string::npos);
    EXPECT_EQ(log_.str().find("refused the hub: refused"), log_.str().rfind("refused the hub: refused"));
}

TEST(UsbipProtocol, RejectsHeadersThatAreNotControlTransfers) {
    HeaderBytes header{};
    EXPECT_FALSE(parseRequest(header).has_value()) << "command 0";
    header[3] = 3;  // a reply, which only the server sends
    EXPECT_FALSE(parseRequest(header).has_value());
    header[3] = 1;
    header[24] = 0x80;  // a negative length
    EXPECT_FALSE(parseRequest(header).has_value());
    header[24] = 0;
    header[25] = 1;  // 65536 bytes: more than a control transfer can move
    EXPECT_FALSE(parseRequest(header).has_value());
    header[25] = 0;
    EXPECT_TRUE(parseRequest(header).has_value());
}

TEST(ServerControl, ChangesFaultsAndSavesTheFlash) {
    VirtualClock clock;
    sim::SimulatedHub hub(sim::SimulatedHubConfig{}, clock);
    const SupportedDevice identity{1, kVendorId, kSuperSpeedId, kHighSpeedId};
    EXPECT_EQ(runControlCommand("faults wrong-code", hub, identity), "ok faults wrong-code");
    EXPECT_TRUE(hub.faults().returnsInWrongCode);
    EXPECT_EQ(runControlCommand("faults flash-code", hub, identity), "ok faults flash-code");
    EXPECT_FALSE(hub.faults().returnsInWrongCode);
    EXPECT_EQ(runControlCommand("faults two-hubs", hub, identity),
              "error faults two-hubs: the scenario is not about one hub");
    EXPECT_EQ(runControlCommand("faults nonsense", hub, identity), "error faults nonsense: no such scenario");
    EXPECT_EQ(runControlCommand("reset", hub, identity).rfind("error reset: unknown command", 0), 0u);

    velmora::testing::ScratchFolder folder;
    const std::string path = folder.path("flash.bin");
    EXPECT_EQ(runControlCommand("flash " + path, hub, identity), "ok flash " + path);
    EXPECT_EQ(std::filesystem::file_size(path), sim::kFlashBytes);
    EXPECT_EQ(runControlCommand("flash /no/such/folder/flash.bin", hub, identity).rfind("error", 0), 0u);
}

}  // namespace

namespace {

TEST(VirtualHostControllerStatus, FindsTheFirstPortOfEachSpeed) {
    const char* status =
        "hub port sta spd dev      sockfd local_busid\n"
        "hs  0000 006 005 00010002 000003 1-1\n"
        "hs  0001 004 000 00000000 000000 0-0\n"
        "ss  0015 004 000 00000000 000000 0-0\n";
    unsigned port = 99;
    EXPECT_TRUE(firstPortInStatus(status, "hs", port));
    EXPECT_EQ(port, 0u);
    EXPECT_TRUE(firstPortInStatus(status, "ss", port));
    EXPECT_EQ(port, 15u) << "a kernel built with 15 ports per speed";
    EXPECT_FALSE(firstPortInStatus("hub port sta\n", "ss", port));
}

}  // namespace
