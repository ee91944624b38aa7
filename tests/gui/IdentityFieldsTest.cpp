// The flash page's identity fields typed into key by key: what each keystroke
// stores in the flash-page buffer, the edit flags, the alerts and cut-backs, the
// text and cursor the field is left with, the binary view's red range, the save
// of the edited image, and a flash read that ends while the user is typing.
#include <QApplication>
#include <QClipboard>
#include <fstream>
#include <iterator>

#include "EditorWindowFixture.h"

namespace velmora::testing {
namespace {

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> asBytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// The sample image's identity.
constexpr const char* kSampleContainerId = "{5a318c02-4e77-419b-a16d-203fc458900e}";
constexpr std::size_t kIdFlag = 10;
constexpr std::size_t kStringFlags = 42;
constexpr std::size_t kStrings = 43;
constexpr std::size_t kContainerId = 78;

class IdentityFieldsTest : public EditorWindowFixture {
protected:
    // How the binary view shows block bytes [from, to): two digits and a space
    // each, "- " after the eighth byte of a row, a row's label before its first.
    QString viewText(std::size_t from, std::size_t to) {
        QString text;
        for (std::size_t offset = from; offset < to; ++offset) {
            if (offset % 16 == 0) text += QString::asprintf("%04zXh:", kSampleBlock + offset);
            text += QString::asprintf("%02X ", blockByte(offset));
            if (offset % 16 == 7) text += "- ";
        }
        return text;
    }
    void paste(QLineEdit* field, const QString& text) {
        QApplication::clipboard()->setText(text);
        field->setFocus();
        field->paste();
        settle();
    }
};

struct IdFieldCase {
    const char* name;
    QLineEdit* window::FlashBox::*field;
    const char* sample;  // the field's text for the sample image
    std::size_t offset;
    const char* alert;
};

class IdFieldTyping : public IdentityFieldsTest, public ::testing::WithParamInterface<IdFieldCase> {};

TEST_P(IdFieldTyping, KeepsFourDigitsAlertingOncePerOverlongEdit) {
    const IdFieldCase& c = GetParam();
    launchWithSample();
    QLineEdit* field = window().flashBox().*c.field;
    const QString sample = QString::fromLatin1(c.sample);
    ASSERT_EQ(field->text(), sample);
    const std::vector<std::uint8_t> stored = blockBytes(c.offset, c.offset + 2);

    // A fifth digit at the end: cut back, alerted, nothing new stored.
    moveCursorToEnd(field);
    type(field, "0");
    EXPECT_EQ(field->text(), sample);
    EXPECT_EQ(dialogs_.alerts, std::vector<std::string>{c.alert});
    EXPECT_EQ(blockBytes(c.offset, c.offset + 2), stored);
    EXPECT_EQ(blockByte(kIdFlag) & 0x01, 0);
    EXPECT_EQ(redText(), viewText(2, 8));

    // A deletion stores the missing digit as 0, and flags the edit only when that
    // changes a byte (HSPID 0610 cut to 061 still stores 06 10).
    pressBackspace(field);
    EXPECT_EQ(field->text(), sample.left(3));
    EXPECT_EQ(blockByte(c.offset + 1), stored[1] & 0xF0);
    EXPECT_EQ(blockByte(kIdFlag) & 0x01, (stored[1] & 0x0F) != 0 ? 1 : 0);

    // Lower case is taken as typed and stored by its digit value.
    type(field, "c");
    EXPECT_EQ(field->text(), sample.left(3) + "c");
    EXPECT_EQ(blockByte(c.offset + 1), (stored[1] & 0xF0) | 0x0C);
    EXPECT_EQ(blockByte(kIdFlag) & 0x01, 1);

    // A digit typed in the middle pushes the last one out; the cursor stays after it.
    field->setCursorPosition(1);
    type(field, "9");
    const QString cut = sample.left(1) + "9" + sample.mid(1, 2);
    EXPECT_EQ(field->text(), cut);
    EXPECT_EQ(field->cursorPosition(), 2);
    EXPECT_EQ(dialogs_.alerts, (std::vector<std::string>{c.alert, c.alert}));
    EXPECT_EQ(blockBytes(c.offset, c.offset + 2),
              (std::vector<std::uint8_t>{static_cast<std::uint8_t>(cut.left(2).toUInt(nullptr, 16)),
                                         static_cast<std::uint8_t>(cut.mid(2).toUInt(nullptr, 16))}));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, IdFieldTyping,
    ::testing::Values(
        IdFieldCase{"Vid", &window::FlashBox::txtVID_FwFlash, "2FE3", 2, "VID length should be 4."},
        IdFieldCase{"Sspid", &window::FlashBox::txtSSPID_FwFlash, "0611", 4, "SSPID length should be 4."},
        IdFieldCase{"Hspid", &window::FlashBox::txtHSPID_FwFlash, "0610", 6, "HSPID length should be 4."}),
    [](const ::testing::TestParamInfo<IdFieldCase>& info) { return std::string(info.param.name); });

TEST_F(IdentityFieldsTest, TheThreeStringsStayWithin29BytesWithoutSplittingACharacter) {
    launchWithSample();  // "Velmora Labs", "Zelo Sim", "SIM0001": 27 bytes
    QLineEdit* serial = window().flashBox().txtSN_FwFlash;
    QLineEdit* product = window().flashBox().txtPro_FwFlash;
    moveCursorToEnd(serial);
    type(serial, "ABC");  // the 29th byte fits, the 30th is taken back silently
    EXPECT_EQ(serial->text(), "SIM0001AB");
    EXPECT_EQ(flashPage().serial, "SIM0001AB");
    EXPECT_TRUE(dialogs_.alerts.empty());
    EXPECT_EQ(blockByte(kStringFlags), 0x02);

    pressBackspace(serial);  // 28 bytes: a two-byte character more would need 30
    product->selectAll();
    paste(product, QString(20, QChar(0xC4)));  // 20 times Ä, 40 bytes, for 9 bytes of room
    EXPECT_EQ(product->text(), QString::fromUtf8("ÄÄÄÄ"));
    EXPECT_EQ(flashPage().product, "ÄÄÄÄ");
    EXPECT_EQ(blockByte(kStringFlags), 0x06);

    pressBackspace(product);
    EXPECT_EQ(product->text(), QString::fromUtf8("ÄÄÄ"));
    EXPECT_EQ(product->cursorPosition(), 3);
    std::vector<std::uint8_t> area = {14, 3};
    for (std::uint8_t byte : asBytes("Velmora Labs")) area.push_back(byte);
    area.insert(area.end(), {8, 3});
    for (std::uint8_t byte : asBytes("ÄÄÄ")) area.push_back(byte);
    area.insert(area.end(), {10, 3});
    for (std::uint8_t byte : asBytes("SIM0001A")) area.push_back(byte);
    area.resize(35, 0);
    EXPECT_EQ(blockBytes(kStrings, kStrings + 35), area);
    EXPECT_EQ(redText(), viewText(43, 94));
    EXPECT_TRUE(dialogs_.alerts.empty());
}

TEST_F(IdentityFieldsTest, TheContainerIdFollowsItsLettersAndDigitsAndFlagsEveryTextChange) {
    launchWithSample();
    QLineEdit* field = window().flashBox().txtContainerID_FwFlash;
    ASSERT_EQ(field->text(), kSampleContainerId);
    const std::vector<std::uint8_t> stored = blockBytes(kContainerId, kContainerId + 16);
    moveCursorToEnd(field);
    pressBackspace(field);  // the brace: same bytes, but the text changed
    EXPECT_EQ(blockBytes(kContainerId, kContainerId + 16), stored);
    EXPECT_EQ(blockByte(kStringFlags), 0x01);
    pressBackspace(field);  // the last digit: the last byte is 0 and its missing digit
    EXPECT_EQ(blockByte(kContainerId + 15), 0x00);
    type(field, "E");
    EXPECT_EQ(blockByte(kContainerId + 15), 0x0E);
    EXPECT_EQ(field->text(), QString(kSampleContainerId).chopped(2) + "E");
    EXPECT_EQ(redText(), viewText(43, 94));
}

struct NoImageCase {
    const char* name;
    QLineEdit* window::FlashBox::*field;
};

class NoImageTyping : public IdentityFieldsTest, public ::testing::WithParamInterface<NoImageCase> {};

TEST_P(NoImageTyping, EmptiesTheFieldAndSaysNoFlashData) {
    launch();
    QLineEdit* field = window().flashBox().*GetParam().field;
    type(field, "5");
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(dialogs_.alerts, std::vector<std::string>{"No Flash Data"});
    EXPECT_FALSE(flashPage().loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NoImageTyping,
    ::testing::Values(NoImageCase{"Vid", &window::FlashBox::txtVID_FwFlash},
                      NoImageCase{"Sspid", &window::FlashBox::txtSSPID_FwFlash},
                      NoImageCase{"Hspid", &window::FlashBox::txtHSPID_FwFlash},
                      NoImageCase{"Manufacturer", &window::FlashBox::txtManu_FwFlash},
                      NoImageCase{"Product", &window::FlashBox::txtPro_FwFlash},
                      NoImageCase{"Serial", &window::FlashBox::txtSN_FwFlash},
                      NoImageCase{"ContainerId", &window::FlashBox::txtContainerID_FwFlash}),
    [](const ::testing::TestParamInfo<NoImageCase>& info) { return std::string(info.param.name); });

TEST_F(IdentityFieldsTest, ASaveAfterEditsWritesExactlyTheEditedImage) {
    launchWithSample();
    window().flashBox().txtVID_FwFlash->selectAll();
    type(window().flashBox().txtVID_FwFlash, "1a2c");
    window().flashBox().txtManu_FwFlash->selectAll();
    paste(window().flashBox().txtManu_FwFlash, QString::fromUtf8("Größe"));
    selectPage("System");
    choose(rowOf("Self Powered"), 0);
    const std::vector<std::uint8_t> edited = flashPage().data;
    const std::string saved = (folder() / "edited.bin").string();
    dialogs_.saveAnswer = QString::fromStdString(saved);
    window().flashBox().btnSave_FwFlash->click();
    settle();
    EXPECT_TRUE(dialogs_.alerts.empty());
    const std::vector<std::uint8_t> written = readBytes(saved);
    EXPECT_EQ(written, edited);
    ASSERT_EQ(written.size(), 32768u);
    EXPECT_EQ(written[kSampleBlock + 2], 0x1A);
    EXPECT_EQ(written[kSampleBlock + 3], 0x2C);
    EXPECT_EQ(written[kSampleBlock + kIdFlag], 0x01);
    EXPECT_EQ(written[kSampleBlock + kStringFlags], 0x08);
    EXPECT_EQ(written[kSampleBlock + 104], 0x02);
    EXPECT_EQ(written[kSampleBlock + kStrings], 7 + 2);  // "Größe" is seven bytes
}

// A flash read that ends while the user edits the page: the edits made before its
// end went to the image it replaces, and the read's image arrives whole.
class EditDuringFlashReadTest : public IdentityFieldsTest {};

TEST_F(EditDuringFlashReadTest, TheReadsImageArrivesWholeAndLaterEditsGoIntoIt) {
    launchWithSample(Shown::No);
    std::vector<std::uint8_t> flash = readBytes(sampleImagePath());
    // The hub keeps its IDs (it answers by them); its serial number and a setting differ.
    const std::size_t serialDigits = kSampleBlock + kStrings + 14 + 10 + 2 + 5;
    flash[serialDigits] = '4';  // "SIM0041"
    flash[kSampleBlock + 101] = 0x02;
    hub().loadFlashImage(flash);

    window().flashBox().btnRead_FwFlash->click();
    // Edited while the worker reads, without letting the GUI thread take the read's
    // end in between (no step here runs the event loop): these edits meet the
    // loaded image.
    window().flashBox().txtManu_FwFlash->setFocus();
    QTest::keyClicks(window().flashBox().txtManu_FwFlash, "XYZ");
    window().flashBox().txtVID_FwFlash->setFocus();
    window().flashBox().txtVID_FwFlash->selectAll();
    QTest::keyClicks(window().flashBox().txtVID_FwFlash, "abcd5");  // one alert, queued behind the read
    window().detailBox().cbPages->setCurrentIndex(1);
    ASSERT_TRUE(table().setData(table().index(rowOf("U1 Timeout"), 1), 3));
    ASSERT_EQ(blockByte(101), 0x03);
    ASSERT_EQ(flashPage().manufacturer, "Velmora LabsXY");  // the Z would make 30 bytes
    ASSERT_TRUE(waitForWorkflowEnd());
    settle();

    ASSERT_TRUE(paneText().endsWith("Read Fw Success\n")) << paneText().toStdString();
    EXPECT_EQ(flashPage().data, flash);
    EXPECT_EQ(window().flashBox().txtVID_FwFlash->text(), "2FE3");
    EXPECT_EQ(window().flashBox().txtManu_FwFlash->text(), "Velmora Labs");
    EXPECT_EQ(window().flashBox().txtSN_FwFlash->text(), "SIM0041");
    EXPECT_EQ(window().detailBox().cbPages->currentText(), "SSC");
    selectPage("DSP OCP/U1/U2");
    EXPECT_EQ(cell(rowOf("U1 Timeout"), 1), "2 : 5 us");

    // An edit now changes the read image only where it is made.
    moveCursorToEnd(window().flashBox().txtSN_FwFlash);
    type(window().flashBox().txtSN_FwFlash, "9");
    std::vector<std::uint8_t> expected = flash;
    const std::size_t serialEnd = kSampleBlock + kStrings + 14 + 10 + 9;
    expected[serialEnd - 9] = 10;  // the serial's entry grows by one byte
    expected[serialEnd] = '9';
    expected[kSampleBlock + kStringFlags] = 0x02;
    EXPECT_EQ(flashPage().data, expected);
}

}  // namespace
}  // namespace velmora::testing
