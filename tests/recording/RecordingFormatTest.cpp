// The recording's lines: every kind of exchange reads back as written, data in
// base64, and the file is refused or cut where it must be.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

TEST(RecordingFormatTest, EveryKindOfExchangeReadsBackAsWritten) {
    const Exchange in = control(7, 0xC0, 300);
    const Exchange out = readBack(in);
    EXPECT_EQ(out.number, 7u);
    EXPECT_EQ(out.kind, ExchangeKind::Control);
    EXPECT_EQ(out.port, "1-4.2");
    EXPECT_EQ(out.setup.wireBytes(), in.setup.wireBytes());
    EXPECT_EQ(out.data, in.data);
    EXPECT_EQ(out.status, kIOReturnUnderrun);
    EXPECT_EQ(out.at, Milliseconds(1234));
    EXPECT_EQ(out.took, Milliseconds(5));

    Exchange list;
    list.number = 1;
    list.kind = ExchangeKind::List;
    list.devices = {{0x2FE3, 0x0611, "1-1", "001/005"}, {0x046D, 0xC077, "1-3", "001/002"}};
    const Exchange listed = readBack(list);
    ASSERT_EQ(listed.devices.size(), 2u);
    EXPECT_EQ(listed.devices[1].productId, 0xC077);
    EXPECT_EQ(listed.devices[0].platformKey, "001/005");

    Exchange open;
    open.number = 2;
    open.kind = ExchangeKind::Open;
    open.device = list.devices[0];
    open.status = kIOReturnExclusiveAccess;
    EXPECT_EQ(readBack(open).status, kIOReturnExclusiveAccess);
    EXPECT_EQ(readBack(open).port, "1-1");

    Exchange claim;
    claim.number = 3;
    claim.kind = ExchangeKind::Claim;
    claim.port = "1-1";
    claim.status = kIOReturnExclusiveAccess;
    claim.problem = "the lock file is a FIFO";
    EXPECT_EQ(readBack(claim).problem, claim.problem);

    Exchange wait;
    wait.number = 4;
    wait.kind = ExchangeKind::Wait;
    wait.port = "1-1";
    wait.count = 3;
    wait.result = true;
    wait.took = Milliseconds(2000);
    EXPECT_TRUE(readBack(wait).result);
    EXPECT_EQ(readBack(wait).count, 3u);

    Exchange hotplug;
    hotplug.number = 5;
    hotplug.kind = ExchangeKind::Hotplug;
    hotplug.device = list.devices[0];
    hotplug.arrived = true;
    EXPECT_TRUE(readBack(hotplug).arrived);
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
