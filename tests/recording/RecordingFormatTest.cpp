// The recording's lines: every kind of exchange reads back as written, data in
// base64, and the file is refused or cut where it must be.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "app/Json.h"
#include "device/recording/Base64.h"
#include "device/recording/RecordingFile.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::recording {
namespace {

Exchange readBack(const Exchange& exchange) {
    JsonValue value;
    std::string error;
    EXPECT_TRUE(parseLine(exchangeLine(exchange), value, error)) << error;
    Exchange result;
    EXPECT_TRUE(exchangeFromJson(value, result, error)) << error << "\n" << exchangeLine(exchange);
    return result;
}

RecordingHeader sampleHeader() {
    RecordingHeader header;
    header.program = "velmora-cli 1.02";
    header.command = {"velmora-cli", "--record", "a \"quoted\"\tfile", "update", "x.bin"};
    header.table = {{0x2FE3, 0x0611, 0x0610}};
    header.images = {{"x.bin", std::string(64, 'a')}};
    return header;
}

std::string recordingText(const std::vector<Exchange>& exchanges) {
    std::string text = headerLine(sampleHeader()) + "\n";
    for (const Exchange& exchange : exchanges) text += exchangeLine(exchange) + "\n";
    return text;
}

Exchange control(std::uint64_t number, std::uint8_t type, std::uint16_t length) {
    Exchange exchange;
    exchange.number = number;
    exchange.kind = ExchangeKind::Control;
    exchange.port = "1-4.2";
    exchange.setup = {type, 0xD8, 0x7000, 0x0001, length};
    for (std::uint16_t i = 0; i < length; ++i) exchange.data.push_back(static_cast<std::uint8_t>(i * 7));
    exchange.status = kIOReturnUnderrun;
    exchange.at = Milliseconds(1234);
    exchange.took = Milliseconds(5);
    return exchange;
}

TEST(Base64Test, RoundTripsEveryLengthAndRefusesWhatIsNotBase64) {
    std::vector<std::uint8_t> bytes;
    for (int length = 0; length < 8; ++length) {
        const std::string text = toBase64(bytes.data(), bytes.size());
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(fromBase64(text), bytes);
        bytes.push_back(static_cast<std::uint8_t>(0xF0 + length));
    }
    EXPECT_EQ(toBase64(reinterpret_cast<const std::uint8_t*>("Man"), 3), "TWFu");
    EXPECT_FALSE(fromBase64("TWF"));
    EXPECT_FALSE(fromBase64("TW=u"));
    EXPECT_FALSE(fromBase64("TQ==TWFu"));
    EXPECT_FALSE(fromBase64("T*Fu"));
}

// One exchange of each kind, every field its kind carries set to something other
// than its default.
std::vector<Exchange> oneOfEachKind() {
    const UsbDeviceInfo hub{0x2FE3, 0x0611, "1-1", "001/005"};
    std::vector<Exchange> exchanges(10);
    for (std::size_t index = 0; index < exchanges.size(); ++index) {
        exchanges[index].number = index + 1;
        exchanges[index].at = Milliseconds(1000 + static_cast<std::int64_t>(index));
        exchanges[index].took = Milliseconds(static_cast<std::int64_t>(index));
    }
    exchanges[0].kind = ExchangeKind::List;
    exchanges[0].devices = {hub, {0x046D, 0xC077, "1-3", "001/002"}};
    exchanges[1].kind = ExchangeKind::Claim;
    exchanges[1].port = "1-1";
    exchanges[1].status = kIOReturnExclusiveAccess;
    exchanges[1].problem = "the lock file is a FIFO";
    exchanges[2].kind = ExchangeKind::Open;
    exchanges[2].device = hub;
    exchanges[2].port = hub.portPath;
    exchanges[2].status = kIOReturnExclusiveAccess;
    exchanges[3] = control(4, 0xC0, 300);
    exchanges[4].kind = ExchangeKind::Close;
    exchanges[4].port = "1-1";
    exchanges[5].kind = ExchangeKind::Arrivals;
    exchanges[5].port = "1-1";
    exchanges[5].count = 2;
    exchanges[6].kind = ExchangeKind::Wait;
    exchanges[6].port = "1-1";
    exchanges[6].count = 3;
    exchanges[6].result = true;
    exchanges[7].kind = ExchangeKind::Watch;
    exchanges[7].result = true;
    exchanges[8].kind = ExchangeKind::Hotplug;
    exchanges[8].device = hub;
    exchanges[8].port = hub.portPath;
    exchanges[8].arrived = true;
    exchanges[9].kind = ExchangeKind::Poll;
    return exchanges;
}

auto fieldsOf(const UsbDeviceInfo& device) {
    return std::tie(device.vendorId, device.productId, device.portPath, device.platformKey);
}

TEST(RecordingFormatTest, EveryKindOfExchangeReadsBackAsWritten) {
    std::set<ExchangeKind> kinds;
    for (const Exchange& in : oneOfEachKind()) {
        SCOPED_TRACE(exchangeLine(in));
        kinds.insert(in.kind);
        const Exchange out = readBack(in);
        EXPECT_EQ(std::tie(out.number, out.kind, out.port, out.status, out.problem, out.count, out.result,
                           out.arrived, out.at, out.took, out.data),
                  std::tie(in.number, in.kind, in.port, in.status, in.problem, in.count, in.result,
                           in.arrived, in.at, in.took, in.data));
        EXPECT_EQ(out.setup.wireBytes(), in.setup.wireBytes());
        EXPECT_EQ(fieldsOf(out.device), fieldsOf(in.device));
        ASSERT_EQ(out.devices.size(), in.devices.size());
        for (std::size_t index = 0; index < in.devices.size(); ++index)
            EXPECT_EQ(fieldsOf(out.devices[index]), fieldsOf(in.devices[index]));
    }
    EXPECT_EQ(kinds.size(), 10U);
}

TEST(RecordingFormatTest, TheHeaderReadsBackAndANewerFormatIsRefused) {
    Recording recording;
    std::string error;
    ASSERT_TRUE(parseRecording(recordingText({}), recording, error)) << error;
    EXPECT_EQ(recording.header.command, sampleHeader().command);
    ASSERT_EQ(recording.header.table.size(), 1u);
    EXPECT_EQ(recording.header.table[0].hspid, 0x0610);
    EXPECT_EQ(recording.header.images[0].sha256, std::string(64, 'a'));

    RecordingHeader newer = sampleHeader();
    newer.format = kRecordingFormat + 1;
    EXPECT_FALSE(parseRecording(headerLine(newer) + "\n", recording, error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
    EXPECT_NE(error.find(std::to_string(kRecordingFormat + 1)), std::string::npos) << error;

    EXPECT_FALSE(parseRecording("", recording, error));
    EXPECT_FALSE(parseRecording("{\"format\":1}\n", recording, error));
    EXPECT_FALSE(parseRecording("not json\n", recording, error));
}

TEST(RecordingFormatTest, ALineCutByAKillEndsTheRecordingWhileADamagedOneIsRefused) {
    const std::string whole = recordingText({control(1, 0x40, 16), control(2, 0xC0, 32)});
    Recording recording;
    std::string error;
    // Killed in the middle of the second exchange: the first one stands.
    const std::string cut = whole.substr(0, whole.size() - 20);
    ASSERT_TRUE(parseRecording(cut, recording, error)) << error;
    EXPECT_TRUE(recording.cutShort);
    ASSERT_EQ(recording.exchanges.size(), 1u);
    EXPECT_EQ(recording.exchanges[0].data.size(), 16u);

    ASSERT_TRUE(parseRecording(whole, recording, error));
    EXPECT_FALSE(recording.cutShort);
    EXPECT_EQ(recording.exchanges.size(), 2u);

    // The same damage on a line with its end is no kill: the file is refused.
    std::string damaged = whole;
    damaged.replace(damaged.find("\"n\":1"), 5, "\"n\":x");
    EXPECT_FALSE(parseRecording(damaged, recording, error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    // Data that does not fill wLength is refused rather than replayed short.
    Exchange shortData = control(1, 0xC0, 8);
    shortData.data.pop_back();
    EXPECT_FALSE(parseRecording(recordingText({shortData}), recording, error));
    // So is a time no run takes, which a replay's clock could not add up.
    Exchange endless = control(1, 0x40, 0);
    endless.took = Milliseconds(std::int64_t{1} << 62);
    EXPECT_FALSE(parseRecording(recordingText({endless, control(2, 0x40, 0)}), recording, error));
    EXPECT_NE(error.find("a time beyond a year"), std::string::npos) << error;
}

TEST(RecordingFormatTest, TheWriterLeavesWholeLinesAndRefusesALinkedPath) {
    testing::ScratchFolder folder;
    std::string error;
    const std::string path = folder.path("run.jsonl");
    {
        auto writer = RecordingWriter::create(path, sampleHeader(), error);
        ASSERT_NE(writer, nullptr) << error;
        writer->write(control(99, 0x40, 4));  // numbered by the writer, from 1
        // Before the writer is gone, the file already holds the line.
        Recording recording;
        ASSERT_TRUE(readRecording(path, recording, error)) << error;
        ASSERT_EQ(recording.exchanges.size(), 1u);
        EXPECT_EQ(recording.exchanges[0].number, 1u);
    }
    const std::string link = folder.path("link.jsonl");
    std::filesystem::create_symlink(path, link);
    EXPECT_EQ(RecordingWriter::create(link, sampleHeader(), error), nullptr);
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace velmora::recording
