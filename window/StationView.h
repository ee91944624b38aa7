#pragma once
// The station view: the production station (the same Station the command
// line's `station` runs) shown as one tile per port, with the image, the
// station's name, its history and the tally above, the operator's two stops,
// the scanned unit IDs and the units finished last. The station runs on one of
// the window's workers; its units report through a StationFeed, and each tile
// is redrawn at most kTileRedrawsPerSecond times a second.
#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "environment/StationSetup.h"
#include "production/PortOrder.h"
#include "production/Station.h"
#include "production/UnitIdQueue.h"
#include "window/StationFeed.h"

class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTableWidget;
class QTimer;

namespace velmora {
class HubEnvironment;
}

namespace velmora::window {

class StationTile;
class WorkerThreads;

inline constexpr int kTileRedrawsPerSecond = 10;

class StationView final : public QWidget {
    Q_OBJECT

public:
    // The station as prepared (image admitted, serial numbers or name held).
    // ended: told on the GUI thread once the station's run has returned.
    StationView(HubEnvironment& environment, std::unique_ptr<StationSetup> setup,
                const StationRequest& request, std::function<void(StationEnd)> ended,
                QWidget* parent = nullptr);
    ~StationView() override;  // waits for the unit runs still going

    // Starts the station on a worker.
    void start(WorkerThreads& workers);
    // "Stop taking units": the first interrupt. Abandons without asking when
    // the station was stopped already.
    void stopTaking();
    // "Abandon", once confirmed: the second interrupt.
    void abandon();
    // The ports of the units in progress, in port order.
    std::vector<std::string> unitsInProgress() const;
    bool running() const { return running_; }
    // Ends the station's loop for the window's end (abandoning what still runs).
    void shutDown();

    // A scanned line, as the field takes it (tests call it too).
    void scan(const QString& text);

    // For tests and the screenshots.
    const std::map<std::string, StationTile*>& tiles() const { return tiles_; }
    const Station& station() const { return *station_; }
    QLineEdit* scanField() const { return scanField_; }
    QListWidget* queueList() const { return queueList_; }
    QTableWidget* finishedList() const { return finished_; }
    QLabel* scanAnswer() const { return scanAnswer_; }
    QLabel* tallyLabel() const { return tally_; }
    QPushButton* stopButton() const { return stopButton_; }
    QPushButton* abandonButton() const { return abandonButton_; }
    QPushButton* clearButton() const { return clearButton_; }
    // Called with the ports the abandon question names; true to abandon.
    std::function<bool(const std::vector<std::string>&)> confirmAbandon;
    // Each redraw of a tile, with its port, and how long each hand-over of the
    // units' reports (and each later turn making tiles) held the GUI thread (the
    // benchmark measures them).
    std::function<void(const std::string&)> tileRedrawn;
    std::function<void(qint64 nanoseconds)> deliveryTook;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitTiles();
    QWidget* makeHeader(const StationRequest& request);
    QWidget* makeSide();
    void deliver();
    void redrawDue();
    void wantTile(const std::string& port);
    bool isPresent(const std::string& port) const;
    void makeSomeTiles();
    void nextTurn();
    void takeTurn();
    void placeTiles(const std::vector<std::string>& made);
    void choose(const QString& port);
    void listEnded(const UnitReport& report);
    void showLine(const std::string& line);
    void showTally();
    void showQueue();

    HubEnvironment& environment_;
    std::unique_ptr<StationSetup> setup_;
    std::function<void(StationEnd)> ended_;
    UnitIdQueue unitIds_;
    StationFeed feed_;  // before the station, which reports to it until its last unit ends
    std::unique_ptr<Station> station_;
    std::atomic<int> interrupts_{0};
    std::atomic<bool> running_{false};

    std::map<std::string, StationTile*> tiles_;  // by port
    std::map<std::string, UnitReport> due_;      // reports waiting for their tile's next redraw
    std::map<std::string, QElapsedTimer> lastRedraw_;
    QTimer* redrawTimer_;
    QTimer* turnTimer_;  // tiles to make or redraw wait for the next turn of the event loop
    QString selectedPort_;
    std::vector<std::string> present_;         // the ports a supported hub is on, at the last look
    std::set<std::string, PortOrder> unmade_;  // ports seen whose tile is still to be made
    std::vector<std::string> placed_;          // the tiles in the grid, in port order
    int tileWidth_ = 0;                        // each column's, as the tiles' area is wide

    QLabel* tally_ = nullptr;
    QLabel* stateLine_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* abandonButton_ = nullptr;
    QGridLayout* grid_ = nullptr;
    QScrollArea* scroller_ = nullptr;
    QLineEdit* scanField_ = nullptr;
    QLabel* scanAnswer_ = nullptr;
    QListWidget* queueList_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QTableWidget* finished_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
};

}  // namespace velmora::window
