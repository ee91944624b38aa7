// The station view: the command line's station in the window, one tile per
// port. Run on simulated hubs in virtual time, through the real window classes.
#include <QAccessible>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <set>

#include "WindowFixture.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "history/HistoryDatabase.h"
#include "window/StationTile.h"

namespace velmora::testing {
namespace {

class StationViewTest : public WindowFixture {
protected:
    StationRequest counted(int count) {
        StationRequest request;
        request.settings.count = count;
        return request;
    }
    // Every tile's state in words, by port.
    std::map<std::string, std::string> states() {
        std::map<std::string, std::string> shown;
        for (const auto& [port, tile] : station().tiles()) shown[port] = tile->stateText().toStdString();
        return shown;
    }
    // Waits until the station's run has ended and every tile shows what its unit came to.
    bool waitForStationEnd() {
        return QTest::qWaitFor(
            [this] {
                if (station().running() || window().workers().running() > 0) return false;
                for (const auto& [port, state] : states())
                    if (state.rfind("PASS", 0) != 0 && state.rfind("FAIL", 0) != 0) return false;
                return true;
            },
            kPatienceMs);
    }
    bool waitForState(const std::string& port, const std::string& start) {
        return QTest::qWaitFor(
            [&] {
                const auto tile = station().tiles().find(port);
                return tile != station().tiles().end() &&
                       tile->second->stateText().toStdString().rfind(start, 0) == 0;
            },
            kPatienceMs);
    }
    std::string logText() {
        return station().findChild<QPlainTextEdit*>("stationLog")->toPlainText().toStdString();
    }
    std::string tileLine(const std::string& port) {
        return station().tiles().at(port)->accessibleDescription().toStdString();
    }
};

// 64 hubs: 64 tiles in port order, each PASS with its own serial number, read
// from outside through each tile's accessible name.
TEST_F(StationViewTest, SixtyFourHubsAllPassEachWithItsSerial) {
    StationRequest request = counted(64);
    request.serialPrefix = "VM";
    request.serialDigits = 6;
    launchStation(WindowSetup().withScenario("sixty-four-hubs").withHistory(), request);
    ASSERT_TRUE(waitForStationEnd()) << logText();

    ASSERT_EQ(station().tiles().size(), 64u);
    std::set<std::string> serials;
    for (const auto& [port, tile] : station().tiles()) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(tile);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name).toStdString(),
                  "Port " + port + ": PASS, remove the unit");
        const std::string line = tileLine(port);
        EXPECT_NE(line.find("SN VM0000"), std::string::npos) << line;
        EXPECT_NE(line.find("0102 \u2192 0102"), std::string::npos) << line;
        serials.insert(line.substr(line.find("SN "), 11));
    }
    EXPECT_EQ(serials.size(), 64u);
    // Made a few at a time, placed in port order: eight a row.
    auto* grid = qobject_cast<QGridLayout*>(station().findChild<QScrollArea*>("tiles")->widget()->layout());
    ASSERT_NE(grid, nullptr);
    int index = 0;
    for (const auto& [port, tile] : station().tiles()) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(grid->indexOf(tile), &row, &column, &rows, &columns);
        EXPECT_EQ(std::make_pair(row, column), std::make_pair(index / 8, index % 8)) << port;
        ++index;
    }
    EXPECT_EQ(station().tallyLabel()->text().toStdString(),
              "Passed 64   Failed 0   In progress 0   Yield 100.0%");
    EXPECT_EQ(station().finishedList()->rowCount(), 64);
    EXPECT_TRUE(station()
                    .findChild<QLabel*>("stationImage")
                    ->text()
                    .startsWith("Image: sample-update.bin   version 0102   SHA-256 "));
    EXPECT_TRUE(
        station().findChild<QLabel*>("stationWhere")->text().endsWith(QString::fromStdString(historyPath())));
}

// One hub of eight fails its compare: its tile alone says FAIL, with the line
// why, and so does its row among the finished units.
TEST_F(StationViewTest, AFailingHubShowsFailWithItsLineOnItsTileOnly) {
    launchStation(WindowSetup().withScenario("eight-hubs-one-failing"), counted(8));
    ASSERT_TRUE(waitForStationEnd()) << logText();

    for (const auto& [port, state] : states())
        EXPECT_EQ(state,
                  port == "1-5" ? "FAIL: Fail to verify flash, remove the unit" : "PASS, remove the unit");
    QTableWidget* finished = station().finishedList();
    ASSERT_EQ(finished->rowCount(), 8);
    int failedRows = 0;
    for (int row = 0; row < finished->rowCount(); ++row) {
        if (finished->item(row, 4)->text() != "FAIL") continue;
        ++failedRows;
        EXPECT_EQ(finished->item(row, 1)->text(), "1-5");
        EXPECT_EQ(finished->item(row, 5)->text(), "Fail to verify flash");
    }
    EXPECT_EQ(failedRows, 1);
    EXPECT_EQ(station().tallyLabel()->text().toStdString(),
              "Passed 7   Failed 1   In progress 0   Yield 87.5%");
}

// "Stop taking units" is the first Ctrl-C: the units in progress finish, and a
// hub plugged in afterwards is left alone. "Abandon" is the second: after a
// question naming the hubs in progress, the station ends at once and the
// program once the flash writes are done.
TEST_F(StationViewTest, StopLetsTheUnitsFinishAndAbandonLeavesThem) {
    launchStation(WindowSetup().withScenario("eight-hubs").withUnitsHeld());
    ASSERT_TRUE(waitForHeldUnits(8));
    station().stopButton()->click();
    releaseUnits();
    ASSERT_TRUE(waitForStationEnd()) << logText();
    EXPECT_EQ(station().station().units().tally().passed, 8);
    EXPECT_NE(logText().find("Stopping: no new units; waiting for 1-1, 1-2, 1-3, 1-4, 1-5, 1-6, 1-7, 1-8 to "
                             "finish (\"Abandon\" abandons them)"),
              std::string::npos)
        << logText();
    EXPECT_FALSE(station().abandonButton()->isEnabled());
    EXPECT_TRUE(endedAfterFlashWrites_.empty());
    closeWindow();

    launchStation(WindowSetup().withScenario("eight-hubs").withUnitsHeld());
    ASSERT_TRUE(waitForHeldUnits(8));
    dialogs_.abandonAnswer = false;
    station().abandonButton()->click();
    EXPECT_TRUE(station().abandonButton()->isEnabled());  // not confirmed: nothing changes
    dialogs_.abandonAnswer = true;
    station().abandonButton()->click();
    releaseUnits();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !endedAfterFlashWrites_.empty(); }, kPatienceMs));
    EXPECT_EQ(endedAfterFlashWrites_, std::vector<int>{1});
    ASSERT_EQ(dialogs_.abandonQuestions.size(), 2u);
    EXPECT_EQ(dialogs_.abandonQuestions[1], "1-1, 1-2, 1-3, 1-4, 1-5, 1-6, 1-7, 1-8");
    EXPECT_NE(logText().find("Abandoned 1-1, 1-2"), std::string::npos) << logText();
    EXPECT_NE(logText().find(": these hubs may be left in ROM code"), std::string::npos);
}

// Closed while units run, the window asks as Abandon does, and "Close When
// Done" closes it once the units have finished.
TEST_F(StationViewTest, ClosingWhileUnitsRunAsksAndClosesWhenDone) {
    launchStation(WindowSetup().withScenario("eight-hubs").withUnitsHeld());
    window().show();
    ASSERT_TRUE(waitForHeldUnits(8));
    EXPECT_FALSE(window().close());  // kept open
    dialogs_.stationCloseAnswer = window::StationCloseAnswer::CloseWhenDone;
    EXPECT_FALSE(window().close());
    releaseUnits();
    ASSERT_EQ(dialogs_.stationCloseQuestions.size(), 2u);
    EXPECT_EQ(dialogs_.stationCloseQuestions[0].substr(0, 8), "1-1, 1-2");
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window().isVisible(); }, kPatienceMs));
    EXPECT_EQ(station().station().units().tally().passed, 8);
    EXPECT_TRUE(endedAfterFlashWrites_.empty());
}

// Scanned IDs: units arriving together take them in port order; a tile chosen
// first gives its running unit the ID; a repeat, a blank and junk are refused.
TEST_F(StationViewTest, ScannedIdsReachTheirUnitsTiles) {
    launchStation(WindowSetup().withScenario("eight-hubs").withUnitsHeld().withHistory());
    ASSERT_TRUE(waitForHeldUnits(8));
    ASSERT_TRUE(QTest::qWaitFor([this] { return station().tiles().size() == 8; }, kPatienceMs));
    // Plugged in before the start, so not scanned first: they take the IDs scanned now, in port order.
    station().scan("START-1");
    EXPECT_EQ(station().scanAnswer()->text(), "Unit ID START-1 for the unit on port 1-1");
    // The running unit on 1-6, chosen on its tile.
    QTest::mouseClick(station().tiles().at("1-6"), Qt::LeftButton);
    station().scan("LATE-6");
    EXPECT_EQ(station().scanAnswer()->text(), "Unit ID LATE-6 for the unit on port 1-6");
    station().scan("START-2");
    EXPECT_EQ(station().scanAnswer()->text(), "Unit ID START-2 for the unit on port 1-2");
    releaseUnits();
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
            for (const auto& [port, state] : states())
                if (state.rfind("PASS", 0) != 0) return false;
            return true;
        },
        kPatienceMs));
    EXPECT_NE(tileLine("1-6").find("ID LATE-6"), std::string::npos) << tileLine("1-6");

    QLineEdit* field = station().scanField();
    for (const char* typed : {"UNIT-A", "UNIT-B", "UNIT-A", "  ", "bad\x07id"}) {
        field->setText(QString::fromLatin1(typed));  // as a scanner types it, control characters too
        QTest::keyClick(field, Qt::Key_Return);
    }
    EXPECT_EQ(station().scanAnswer()->text(),
              "Unit ID \"bad?id\" refused: a label holds printable ASCII only");
    EXPECT_NE(logText().find("Unit ID UNIT-A refused: it was scanned already and still waits for its unit"),
              std::string::npos);
    ASSERT_EQ(station().queueList()->count(), 2);
    EXPECT_EQ(station().queueList()->item(0)->text(), "UNIT-A");

    // Two units arrive, on 1-3 and 1-7: 1-3 takes the first ID.
    sim::SimulatedBus& bus = session().simulation()->bus();
    for (const char* port : {"1-7", "1-3"}) bus.unplug(port);
    ASSERT_TRUE(waitForState("1-3", "waiting for a hub") && waitForState("1-7", "waiting for a hub"));
    QTest::qWait(50);
    // In port order: taken together or one look apart, 1-3 comes first either way.
    for (const char* port : {"1-3", "1-7"}) bus.plugIn(port);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
            return tileLine("1-3").find("ID UNIT-A") != std::string::npos &&
                   tileLine("1-7").find("ID UNIT-B") != std::string::npos;
        },
        kPatienceMs))
        << tileLine("1-3") << " / " << tileLine("1-7");
    ASSERT_TRUE(waitForState("1-3", "PASS") && waitForState("1-7", "PASS")) << logText();
    EXPECT_EQ(station().queueList()->count(), 0);

    // The history's rows: each ID on its unit's run, the late one included.
    std::string error;
    const auto history = history::HistoryDatabase::open(historyPath(), error);
    ASSERT_TRUE(history) << error;
    for (const auto& [id, port] : std::map<std::string, std::string>{{"START-1", "1-1"},
                                                                     {"START-2", "1-2"},
                                                                     {"LATE-6", "1-6"},
                                                                     {"UNIT-A", "1-3"},
                                                                     {"UNIT-B", "1-7"}}) {
        history::HistoryFilter filter;
        filter.unitId = id;
        const auto rows = history->list(filter, error);
        ASSERT_TRUE(rows) << error;
        ASSERT_EQ(rows->size(), 1u) << id;
        EXPECT_EQ(rows->front().port, port);
        EXPECT_EQ(rows->front().result, "success");
    }

    station().scan("UNIT-C");
    station().clearButton()->click();
    EXPECT_EQ(station().queueList()->count(), 0);
    EXPECT_TRUE(station().scanField()->hasFocus() || !window().isActiveWindow());
}

// The ordinary layout's hub field lists all eight hubs and scrolls to them.
TEST_F(StationViewTest, TheHubFieldListsEveryHubAndScrolls) {
    launch(WindowSetup().withScenario("eight-hubs"));
    window().show();
    ASSERT_TRUE(QTest::qWaitFor([this] { return hubInfoText().count('\n') == 8; }, kPatienceMs))
        << hubInfoText().toStdString();
    const QScrollBar* scroller = window().updateBox().nstfHubInfo_UpdateFW->verticalScrollBar();
    EXPECT_TRUE(QTest::qWaitFor([scroller] { return scroller->isVisible() && scroller->maximum() > 0; },
                                kPatienceMs));
}

// The menu's "Station..." asks for the image and opens the view; an image the
// update's gate refuses leaves the ordinary layout, saying why.
TEST_F(StationViewTest, TheMenuOpensTheStationUnlessTheImageIsRefused) {
    launch(WindowSetup().withScenario("eight-hubs"));
    dialogs_.openAnswers.push_back(
        QString::fromStdString(writeFile("short.bin", std::vector<std::uint8_t>(16, 0xFF))));
    window().chooseStationImage();
    ASSERT_EQ(dialogs_.alerts.size(), 1u);
    EXPECT_NE(dialogs_.alerts[0].find("short.bin"), std::string::npos) << dialogs_.alerts[0];
    EXPECT_EQ(window().stationView(), nullptr);

    dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
    window().chooseStationImage();
    ASSERT_NE(window().stationView(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([this] { return station().tiles().size() == 8; }, kPatienceMs));
    EXPECT_EQ(window().stationView()->parentWidget(), &window());
}

}  // namespace
}  // namespace velmora::testing
