#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "device/VendorCommands.h"
#include "device/simulated/SampleImage.h"
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

// The kernel's side of the cables: keeps its end of each socket pair it is given,
// by port.
class FakeController final : public VirtualHostController {
public:
    ~FakeController() override {
        for (auto& [port, cable] : cables) ::close(cable);
    }
    bool attach(int socket, unsigned port, std::uint32_t, bool superSpeed, std::string& error) override {
        if (refuse) {
            error = "refused";
            return false;
        }
        closeCable(port);
        cables[port] = ::dup(socket);
        attached.emplace_back(port, superSpeed);
        return true;
    }
    bool detach(unsigned port, std::string&) override {
        ++detaches;
        closeCable(port);
        return true;
    }
    void closeCable(unsigned port) {
        if (cables.count(port) > 0) ::close(cables[port]);
        cables.erase(port);
    }
    std::map<unsigned, int> cables;
    bool refuse = false;
    int detaches = 0;
    std::vector<std::pair<unsigned, bool>> attached;  // port, SuperSpeed
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

constexpr PortPair kPorts{0, 15};

class UsbipServerTest : public ::testing::Test {
protected:
    UsbipServerTest() : hub_(config(), clock_), log_(logText_), server_(hub_, controller_, kPorts, log_) {}

    static sim::SimulatedHubConfig config() {
        sim::SimulatedHubConfig result;
        result.vendorId = kVendorId;
        result.superSpeedProductId = kSuperSpeedId;
        result.highSpeedProductId = kHighSpeedId;
        return result;
    }

    // A hub in its flash code, booted from an image with its own IDs.
    void bootFlashCode() {
        sim::SampleImageLayout layout;
        layout.vendorId = kVendorId;
        layout.superSpeedProductId = kSuperSpeedId;
        layout.highSpeedProductId = kHighSpeedId;
        hub_.loadFlashImage(sim::makeSampleImage(layout));
    }

    void send(std::uint32_t seqnum, const UsbSetup& setup, const std::vector<std::uint8_t>& outData = {},
              std::uint32_t endpoint = 0, unsigned port = kPorts.superSpeed) {
        std::vector<std::uint8_t> bytes = submitBytes(seqnum, setup, endpoint);
        bytes.insert(bytes.end(), outData.begin(), outData.end());
        ASSERT_EQ(::write(controller_.cables.at(port), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Sends the request, lets the server answer it, and reads the answer.
    Reply exchange(std::uint32_t seqnum, const UsbSetup& setup, const std::vector<std::uint8_t>& outData = {},
                   std::uint32_t endpoint = 0, unsigned port = kPorts.superSpeed) {
        send(seqnum, setup, outData, endpoint, port);
        server_.serveFor(Milliseconds(0));
        return readReply(setup.isDeviceToHost(), port);
    }

    void unlink(std::uint32_t seqnum, std::uint32_t victim, unsigned port = kPorts.superSpeed) {
        std::vector<std::uint8_t> bytes(kHeaderBytes, 0);
        putWord(bytes, 0, 2);
        putWord(bytes, 4, seqnum);
        putWord(bytes, 20, victim);
        ASSERT_EQ(::write(controller_.cables.at(port), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
        server_.serveFor(Milliseconds(0));
    }

    Reply readReply(bool withData, unsigned port = kPorts.superSpeed) {
        std::vector<std::uint8_t> header(kHeaderBytes);
        Reply reply;
        const int cable = controller_.cables.at(port);
        if (::recv(cable, header.data(), header.size(), MSG_WAITALL | MSG_DONTWAIT) !=
            static_cast<ssize_t>(header.size()))
            return reply;
        reply.command = wordAt(header, 0);
        reply.seqnum = wordAt(header, 4);
        reply.status = static_cast<std::int32_t>(wordAt(header, 20));
        reply.actualLength = static_cast<std::int32_t>(wordAt(header, 24));
        if (withData && reply.command == 3 && reply.actualLength > 0) {
            reply.data.resize(static_cast<std::size_t>(reply.actualLength));
            ::recv(cable, reply.data.data(), reply.data.size(), MSG_WAITALL);
        }
        return reply;
    }

    bool nothingToRead(unsigned port = kPorts.superSpeed) {
        std::uint8_t byte = 0;
        return ::recv(controller_.cables.at(port), &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
    }

    VirtualClock clock_;
    sim::SimulatedHub hub_;
    FakeController controller_;
    std::ostringstream logText_;
    ServerLog log_;
    UsbipServer server_;
};

const UsbSetup kDeviceDescriptor{0x80, 0x06, 0x0100, 0, 64};
const UsbSetup kStatusRead{vendor::kDeviceToHost, vendor::kRequestReadStatus, 0, 0, 32};
const UsbSetup kSetConfiguration{0x00, 0x09, 1, 0, 0};
const UsbSetup kStatusChange{0xA0, 0x00, 0, 0, 2};  // the status endpoint's request; only its length counts
constexpr std::uint32_t kStatusEndpointNumber = 1;

// In its ROM code the hub is one vendor-specific device on the SuperSpeed port.
TEST_F(UsbipServerTest, AnswersEnumerationFromTheRomCodesDescriptors) {
    server_.serveFor(Milliseconds(0));
    ASSERT_TRUE(server_.attached());
    EXPECT_EQ(controller_.attached, (std::vector<std::pair<unsigned, bool>>{{kPorts.superSpeed, true}}));

    const Reply device = exchange(1, kDeviceDescriptor);
    EXPECT_EQ(device.command, 3u);
    EXPECT_EQ(device.seqnum, 1u);
    EXPECT_EQ(device.status, 0);
    ASSERT_EQ(device.data.size(), 18u);  // only what there is, not the 64 asked for
    EXPECT_EQ(device.data[4], 0xFF) << "vendor-specific";
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
        std::size_t bytes;
    };
    for (const Case& c : {Case{"BOS without a container ID", {0x80, 0x06, 0x0F00, 0, 64}, 0, 22},
                          Case{"the language list, from the model", {0x80, 0x06, 0x0300, 0, 255}, 0, 4},
                          Case{"no serial number in ROM code", {0x80, 0x06, 0x0303, 0x0409, 255}, -EPIPE, 0},
                          Case{"device qualifier", {0x80, 0x06, 0x0600, 0, 10}, -EPIPE, 0},
                          Case{"unknown configuration", {0x00, 0x09, 2, 0, 0}, -EPIPE, 0},
                          Case{"set configuration", kSetConfiguration, 0, 0},
                          Case{"hub class request", {0xA0, 0x06, 0x2A00, 0, 12}, -EPIPE, 0}}) {
        const Reply reply = exchange(10, c.setup);
        EXPECT_EQ(reply.status, c.status) << c.what;
        EXPECT_EQ(reply.data.size(), c.bytes) << c.what;
    }
    const Reply configuration = exchange(20, {0x80, 0x08, 0, 0, 1});
    EXPECT_EQ(configuration.data, std::vector<std::uint8_t>{1});
    EXPECT_EQ(exchange(21, kStatusChange, {}, kStatusEndpointNumber).status, -EPIPE)
        << "the ROM code has only endpoint 0";
}

// In its flash code it is two hubs on the two ports of one pair, which share the
// image's container ID; the vendor requests reach the model through either.
TEST_F(UsbipServerTest, FlashCodeShowsTwoHubHalvesOnOnePortPair) {
    bootFlashCode();
    server_.serveFor(Milliseconds(0));
    EXPECT_EQ(controller_.attached,
              (std::vector<std::pair<unsigned, bool>>{{kPorts.superSpeed, true}, {kPorts.highSpeed, false}}));
    struct Half {
        unsigned port;
        std::uint16_t productId;
        std::uint8_t protocol;
        std::uint16_t hubDescriptor;
        std::uint16_t otherHubDescriptor;
    };
    std::vector<std::vector<std::uint8_t>> containerIds;
    for (const Half& half : {Half{kPorts.superSpeed, kSuperSpeedId, 3, 0x2A00, 0x2900},
                             Half{kPorts.highSpeed, kHighSpeedId, 1, 0x2900, 0x2A00}}) {
        SCOPED_TRACE(half.port);
        const Reply device = exchange(1, kDeviceDescriptor, {}, 0, half.port);
        ASSERT_EQ(device.data.size(), 18u);
        EXPECT_EQ(device.data[4], 9) << "the hub class";
        EXPECT_EQ(device.data[6], half.protocol);
        EXPECT_EQ(device.data[10] | device.data[11] << 8, half.productId);
        EXPECT_EQ(device.data[16], sim::kSerialNumberStringIndex);

        const Reply configuration = exchange(2, {0x80, 0x06, 0x0200, 0, 64}, {}, 0, half.port);
        ASSERT_GE(configuration.data.size(), 25u);
        EXPECT_EQ(configuration.data[14], 9) << "one hub interface";
        EXPECT_EQ(configuration.data[13], 1) << "with one endpoint";
        EXPECT_EQ(configuration.data[20], sim::kHubStatusEndpoint);
        EXPECT_EQ(configuration.data[21], 0x03) << "interrupt";

        const Reply hub = exchange(3, {0xA0, 0x06, half.hubDescriptor, 0, 64}, {}, 0, half.port);
        ASSERT_GE(hub.data.size(), 3u);
        EXPECT_EQ(hub.data[1], half.hubDescriptor >> 8);
        EXPECT_EQ(hub.data[2], sim::kHubDownstreamPorts);
        EXPECT_EQ(exchange(4, {0xA0, 0x06, half.otherHubDescriptor, 0, 64}, {}, 0, half.port).status, -EPIPE);

        const Reply bos = exchange(5, {0x80, 0x06, 0x0F00, 0, 255}, {}, 0, half.port);
        ASSERT_GE(bos.data.size(), 20u);
        EXPECT_EQ(bos.data[bos.data.size() - 18], 0x04) << "the container ID comes last";
        containerIds.emplace_back(bos.data.end() - 16, bos.data.end());

        const Reply status = exchange(6, kStatusRead, {}, 0, half.port);
        const auto block = hub_.statusBlock();
        EXPECT_EQ(status.data, std::vector<std::uint8_t>(block.begin(), block.end()));
    }
    const sim::SampleImageLayout sample;
    EXPECT_EQ(containerIds.at(0),
              std::vector<std::uint8_t>(sample.containerId.begin(), sample.containerId.end()));
    EXPECT_EQ(containerIds.at(1), containerIds.at(0));
}

// The status endpoint of a configured hub half keeps its request until the host
// takes it back: the ports stay empty, so none ever changes.
TEST_F(UsbipServerTest, StatusRequestWaitsUntilTheHostTakesItBack) {
    bootFlashCode();
    server_.serveFor(Milliseconds(0));
    EXPECT_EQ(exchange(1, kStatusChange, {}, kStatusEndpointNumber).status, -EPIPE) << "not configured yet";
    ASSERT_EQ(exchange(2, kSetConfiguration).status, 0);

    send(3, kStatusChange, {}, kStatusEndpointNumber);
    server_.serveFor(Milliseconds(0));
    EXPECT_TRUE(nothingToRead());
    ASSERT_EQ(exchange(4, {0x23, 0x03, 8, 2, 0}).status, 0) << "port 2 powered";
    EXPECT_EQ(readReply(false).seqnum, 0u) << "only the power request is answered";

    unlink(5, 3);
    const Reply taken = readReply(false);
    EXPECT_EQ(taken.command, 4u);
    EXPECT_EQ(taken.seqnum, 5u);
    EXPECT_EQ(taken.status, -ECONNRESET);
    unlink(6, 3);
    EXPECT_EQ(readReply(false).status, 0) << "no longer held";
}

TEST(HubClassRequests, PortsPowerDepthAndWhatEachHalfRefuses) {
    struct Case {
        const char* what;
        bool superSpeed;
        std::vector<UsbSetup> before;
        UsbSetup setup;
        std::int32_t status;
        std::vector<std::uint8_t> data;
    };
    const UsbSetup powerPort3{0x23, 0x03, 8, 3, 0};
    const UsbSetup statusOfPort3{0xA3, 0x00, 0, 3, 4};
    const Case cases[] = {
        {"hub status", true, {}, {0xA0, 0x00, 0, 0, 4}, 0, {0, 0, 0, 0}},
        {"SuperSpeed port without power", true, {}, statusOfPort3, 0, {0x80, 0x00, 0, 0}},
        {"SuperSpeed port powered, waiting for a device",
         true,
         {powerPort3},
         statusOfPort3,
         0,
         {0xA0, 0x02, 0, 0}},
        {"High-Speed port powered", false, {powerPort3}, statusOfPort3, 0, {0x00, 0x01, 0, 0}},
        {"power switched off again",
         false,
         {powerPort3, {0x23, 0x01, 8, 3, 0}},
         statusOfPort3,
         0,
         {0, 0, 0, 0}},
        {"a port the hub does not have", true, {}, {0xA3, 0x00, 0, 5, 4}, -EPIPE, {}},
        {"port 0", false, {}, {0x23, 0x03, 8, 0, 0}, -EPIPE, {}},
        {"extended port status", true, {}, {0xA3, 0x00, 2, 3, 8}, -EPIPE, {}},
        {"hub depth on the SuperSpeed half", true, {}, {0x20, 0x0C, 1, 0, 0}, 0, {}},
        {"hub depth beyond five tiers", true, {}, {0x20, 0x0C, 5, 0, 0}, -EPIPE, {}},
        {"no hub depth on the High-Speed half", false, {}, {0x20, 0x0C, 0, 0, 0}, -EPIPE, {}},
        {"the translator's buffer on the High-Speed half", false, {}, {0x23, 0x08, 0x0101, 1, 0}, 0, {}},
        {"no translator on the SuperSpeed half", true, {}, {0x23, 0x08, 0x0101, 1, 0}, -EPIPE, {}},
        {"SuperSpeed timeout feature, its value in wIndex", true, {}, {0x23, 0x03, 23, 0x7F03, 0}, 0, {}},
    };
    for (const Case& c : cases) {
        HubClassRequests hub(c.superSpeed);
        for (const UsbSetup& setup : c.before) ASSERT_EQ(hub.answer(setup).status, 0) << c.what;
        const EndpointZeroAnswer answer = hub.answer(c.setup);
        EXPECT_EQ(answer.status, c.status) << c.what;
        EXPECT_EQ(answer.data, c.data) << c.what;
    }
    HubClassRequests superSpeed(true);
    superSpeed.answer({0x20, 0x0C, 1, 0, 0});
    EXPECT_EQ(superSpeed.depth(), std::uint16_t{1});
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
    unlink(3, 2);
    const Reply taken = readReply(false);
    EXPECT_EQ(taken.command, 4u);
    EXPECT_EQ(taken.seqnum, 3u);
    EXPECT_EQ(taken.status, -ECONNRESET);

    unlink(4, 2);  // the same submit again: it is no longer held
    EXPECT_EQ(readReply(false).status, 0);
    EXPECT_EQ(exchange(5, kStatusRead).status, 0);
}

// A reset asked through either half takes both off the bus once its answer is
// read; the ROM code comes back on the SuperSpeed port alone.
TEST_F(UsbipServerTest, ResetUnplugsTheHubAndPlugsItInAgainAfterItsRebootTime) {
    bootFlashCode();
    server_.serveFor(Milliseconds(0));
    ASSERT_EQ(server_.facesAttached(), 2u);
    const std::uint64_t before = hub_.enumeration();

    send(1, {vendor::kHostToDevice, vendor::kRequestResetToRomCode, 0, 0, 0}, {}, 0, kPorts.highSpeed);
    server_.serveFor(Milliseconds(0));
    EXPECT_EQ(server_.facesAttached(), 2u) << "the answer to the reset is not read yet";
    const Reply reset = readReply(false, kPorts.highSpeed);
    EXPECT_EQ(reset.status, 0) << "the reset is answered before the hub leaves";
    server_.serveFor(Milliseconds(0));
    EXPECT_FALSE(server_.attached());
    EXPECT_EQ(controller_.detaches, 2);

    server_.serveFor(Milliseconds(0));
    EXPECT_FALSE(server_.attached()) << "still rebooting";
    clock_.advance(sim::kDefaultRebootTime);
    server_.serveFor(Milliseconds(0));
    ASSERT_EQ(server_.facesAttached(), 1u);
    EXPECT_EQ(controller_.attached.back(), std::make_pair(kPorts.superSpeed, true));
    EXPECT_EQ(server_.attachments(), 3);
    EXPECT_NE(hub_.enumeration(), before);
    EXPECT_EQ(hub_.runState(), sim::RunState::RomCode);
    EXPECT_EQ(exchange(2, kStatusRead).status, 0);

    // The kernel may drop the cable itself; the device is plugged in again next round.
    controller_.closeCable(kPorts.superSpeed);
    server_.serveFor(Milliseconds(0));
    EXPECT_FALSE(server_.attached());
    server_.serveFor(Milliseconds(0));
    EXPECT_TRUE(server_.attached());
    EXPECT_EQ(server_.attachments(), 4);

    server_.stop();
    EXPECT_FALSE(server_.attached());
    EXPECT_EQ(controller_.detaches, 3);
}

TEST_F(UsbipServerTest, RefusedAttachIsNotRetriedForTheSameEnumeration) {
    controller_.refuse = true;
    server_.serveFor(Milliseconds(0));
    server_.serveFor(Milliseconds(0));
    EXPECT_FALSE(server_.attached());
    EXPECT_EQ(server_.attachments(), 0);
    const std::string refused = "hub: the host controller refused the ROM code device (SuperSpeed): refused";
    EXPECT_NE(logText_.str().find(refused), std::string::npos) << logText_.str();
    EXPECT_EQ(logText_.str().find(refused), logText_.str().rfind(refused));
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

TEST(ServerControl, ChangesFaultsAndSavesTheFlashOfTheHubNamed) {
    VirtualClock clock;
    sim::SimulatedHub first(sim::SimulatedHubConfig{}, clock);
    sim::SimulatedHub second(sim::SimulatedHubConfig{}, clock);
    const std::vector<sim::SimulatedHub*> hubs{&first, &second};
    const SupportedDevice identity{1, kVendorId, kSuperSpeedId, kHighSpeedId};
    EXPECT_EQ(runControlCommand("faults wrong-code", hubs, identity), "ok faults wrong-code");
    EXPECT_TRUE(first.faults().returnsInWrongCode);
    EXPECT_FALSE(second.faults().returnsInWrongCode);
    EXPECT_EQ(runControlCommand("2 faults wrong-code", hubs, identity), "ok 2 faults wrong-code");
    EXPECT_TRUE(second.faults().returnsInWrongCode);
    EXPECT_EQ(runControlCommand("faults flash-code", hubs, identity), "ok faults flash-code");
    EXPECT_FALSE(first.faults().returnsInWrongCode);
    EXPECT_EQ(runControlCommand("faults two-hubs", hubs, identity),
              "error faults two-hubs: the scenario is not about one hub");
    EXPECT_EQ(runControlCommand("faults nonsense", hubs, identity),
              "error faults nonsense: no such scenario");
    EXPECT_EQ(runControlCommand("reset", hubs, identity).rfind("error reset: unknown command", 0), 0u);
    for (const char* command : {"3 faults wrong-code", "0 faults wrong-code", "99999999999999999999 flash x"})
        EXPECT_EQ(runControlCommand(command, hubs, identity),
                  std::string("error ") + command + ": no such hub");

    velmora::testing::ScratchFolder folder;
    const std::string path = folder.path("flash.bin");
    first.loadFlashImage({0x11});
    second.loadFlashImage({0x22});
    EXPECT_EQ(runControlCommand("2 flash " + path, hubs, identity), "ok 2 flash " + path);
    EXPECT_EQ(std::filesystem::file_size(path), sim::kFlashBytes);
    std::ifstream saved(path, std::ios::binary);
    EXPECT_EQ(saved.get(), 0x22);
    EXPECT_EQ(runControlCommand("flash /no/such/folder/flash.bin", hubs, identity).rfind("error", 0), 0u);
}

// Each controller's status lists its High-Speed ports, then its SuperSpeed ones in
// the same order; a pair is free when nothing is on either port.
TEST(VirtualHostControllerStatus, FreePortPairsOfEveryController) {
    const std::string heading = "hub port sta spd dev      sockfd local_busid\n";
    const std::string first = heading +
                              "hs  0000 006 005 00010002 000003 1-1\n"
                              "hs  0001 004 000 00000000 000000 0-0\n"
                              "hs  0002 004 000 00000000 000000 0-0\n"
                              "ss  0003 004 000 00000000 000000 0-0\n"
                              "ss  0004 004 000 00000000 000000 0-0\n"
                              "ss  0005 006 005 00010003 000004 2-3\n";
    const std::string second = heading +
                               "hs  0006 004 000 00000000 000000 0-0\n"
                               "ss  0009 004 000 00000000 000000 0-0\n";
    EXPECT_EQ(freePortPairs({first, second}), (std::vector<PortPair>{{1, 4}, {6, 9}}));
    EXPECT_TRUE(freePortPairs({heading}).empty());
}

}  // namespace
