#include "window/StationView.h"

#include <QDateTime>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <filesystem>

#include "app/PrintableText.h"
#include "app/Sha256.h"
#include "environment/HubEnvironment.h"
#include "production/PortOrder.h"
#include "window/GuiHandOver.h"
#include "window/StationTile.h"
#include "window/WindowTexts.h"
#include "window/WorkerThreads.h"
#include "workflows/EasyUpdate.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::window {
namespace {

constexpr int kRedrawSpacingMs = 1000 / kTileRedrawsPerSecond;
// The finished list and the log keep this many of their newest entries.
constexpr int kMostFinishedRows = 1000;
constexpr int kMostLogLines = 2000;
constexpr int kSideWidth = 460;
// The finished list's columns but the last (the failure line, which takes the rest).
constexpr std::array<int, 5> kFinishedColumnWidths = {62, 62, 96, 82, 44};
constexpr int kShownSha256Digits = 12;
// A tile narrower than this would cut its lines short: the grid scrolls sideways instead.
constexpr int kNarrowestTile = 110;
// New tiles made in one turn of the event loop: a tile's making, first show,
// layout and paint take one to two milliseconds, so 64 hubs found at once would
// hold the GUI thread far too long in one go; four a turn keep each turn short.
constexpr std::size_t kTilesPerTurn = 4;
// Tiles redrawn in one turn: the window's next paint covers only these, so 64
// units ending at once are painted in a few short turns, not one long one.
constexpr std::size_t kTilesRedrawnPerTurn = 4;

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The station's lines name the command line's Ctrl-C: here the buttons do it.
std::string windowWords(std::string line) {
    const auto swap = [&line](const std::string& from, const std::string& to) {
        if (const std::size_t at = line.find(from); at != std::string::npos)
            line.replace(at, from.size(), to);
    };
    swap("Ctrl-C again", std::string("\"") + texts::kAbandon + "\"");
    swap("Ctrl-C", std::string("\"") + texts::kStopTaking + "\"");
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return printableText(line);
}

QPushButton* keepingFocus(QPushButton* button) {
    // A click leaves the focus in the scan field: the scanner types into it.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

}  // namespace

StationView::StationView(HubEnvironment& environment, std::unique_ptr<StationSetup> setup,
                         const StationRequest& request, std::function<void(StationEnd)> ended,
                         QWidget* parent)
    : QWidget(parent),
      environment_(environment),
      setup_(std::move(setup)),
      ended_(std::move(ended)),
      feed_(this, [this] { deliver(); }),
      redrawTimer_(new QTimer(this)),
      turnTimer_(new QTimer(this)) {
    setObjectName("stationView");
    redrawTimer_->setSingleShot(true);
    connect(redrawTimer_, &QTimer::timeout, this, [this] { redrawDue(); });
    turnTimer_->setSingleShot(true);
    connect(turnTimer_, &QTimer::timeout, this, [this] { takeTurn(); });
    StationContext context =
        setup_->context([this](const std::string& line) { feed_.line(line); }, &feed_, &unitIds_);
    station_ =
        std::make_unique<Station>(std::move(context), setup_->image(), request.imagePath, request.settings);

    auto* tilesArea = new QWidget;
    grid_ = new QGridLayout(tilesArea);
    grid_->setSpacing(4);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    scroller_ = new QScrollArea;
    scroller_->setObjectName("tiles");
    scroller_->setWidgetResizable(true);
    scroller_->setWidget(tilesArea);
    scroller_->setFocusPolicy(Qt::NoFocus);
    scroller_->viewport()->installEventFilter(this);
    auto* body = new QHBoxLayout;
    body->addWidget(scroller_, 1);
    body->addWidget(makeSide());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(makeHeader(request));
    layout->addLayout(body, 1);
    showTally();
}

StationView::~StationView() {
    shutDown();
    // The unit runs still going report to the feed until they end.
    station_.reset();
}

QWidget* StationView::makeHeader(const StationRequest& request) {
    const ImageIdentity identity = identityOf(setup_->image());
    const std::vector<std::uint8_t>& bytes = setup_->image().data;
    const std::string sha = sha256Hex(bytes.data(), bytes.size()).substr(0, kShownSha256Digits);
    auto* header = new QWidget;
    auto* grid = new QGridLayout(header);
    grid->setContentsMargins(0, 0, 0, 0);
    auto* image = new QLabel(
        QString("Image: %1   version %2   SHA-256 %3")
            .arg(fromUtf8(printableText(std::filesystem::path(request.imagePath).filename().string())),
                 identity.version.empty() ? "-" : fromUtf8(identity.version), fromUtf8(sha)));
    image->setObjectName("stationImage");
    image->setToolTip(fromUtf8(printableText(request.imagePath)));
    auto* where = new QLabel(QString("Station: %1   History: %2")
                                 .arg(fromUtf8(printableText(setup_->name())),
                                      fromUtf8(printableText(environment_.historyName()))));
    where->setObjectName("stationWhere");
    tally_ = new QLabel;
    tally_->setObjectName("stationTally");
    QFont big = tally_->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 3);
    tally_->setFont(big);
    stateLine_ = new QLabel;
    stopButton_ = keepingFocus(new QPushButton(QString::fromLatin1(texts::kStopTaking)));
    abandonButton_ = keepingFocus(new QPushButton(QString::fromLatin1(texts::kAbandon)));
    connect(stopButton_, &QPushButton::clicked, this, [this] { stopTaking(); });
    connect(abandonButton_, &QPushButton::clicked, this, [this] {
        if (!confirmAbandon || confirmAbandon(unitsInProgress())) abandon();
    });
    grid->addWidget(image, 0, 0);
    grid->addWidget(where, 1, 0);
    grid->addWidget(tally_, 0, 1, 2, 1);
    grid->addWidget(stopButton_, 0, 2);
    grid->addWidget(abandonButton_, 1, 2);
    grid->addWidget(stateLine_, 2, 0, 1, 3);
    grid->setColumnStretch(0, 1);
    return header;
}

QWidget* StationView::makeSide() {
    auto* side = new QWidget;
    side->setFixedWidth(kSideWidth);
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QString::fromLatin1(texts::kScanCaption)));
    scanField_ = new QLineEdit;
    scanField_->setObjectName("scanField");
    scanField_->setPlaceholderText(QString::fromLatin1(texts::kScanPlaceholder));
    scanField_->setMaxLength(static_cast<int>(kMostUnitIdLength) * 4);  // a longer scan is refused, not cut
    connect(scanField_, &QLineEdit::returnPressed, this, [this] {
        scan(scanField_->text());
        scanField_->clear();
    });
    layout->addWidget(scanField_);
    scanAnswer_ = new QLabel;
    scanAnswer_->setObjectName("scanAnswer");
    scanAnswer_->setWordWrap(true);
    layout->addWidget(scanAnswer_);
    auto* queueRow = new QHBoxLayout;
    queueRow->addWidget(new QLabel(QString::fromLatin1(texts::kQueueCaption)), 1);
    clearButton_ = keepingFocus(new QPushButton(QString::fromLatin1(texts::kClearQueue)));
    connect(clearButton_, &QPushButton::clicked, this, [this] {
        const std::size_t cleared = unitIds_.clear();
        showLine("Cleared " + std::to_string(cleared) + " waiting unit ID" + (cleared == 1 ? "" : "s"));
        showQueue();
    });
    queueRow->addWidget(clearButton_);
    layout->addLayout(queueRow);
    queueList_ = new QListWidget;
    queueList_->setObjectName("queue");
    queueList_->setFocusPolicy(Qt::NoFocus);
    queueList_->setMaximumHeight(120);
    layout->addWidget(queueList_);
    layout->addWidget(new QLabel(QString::fromLatin1(texts::kFinishedCaption)));
    finished_ = new QTableWidget(0, static_cast<int>(texts::kFinishedColumns.size()));
    finished_->setObjectName("finished");
    QStringList columns;
    for (const char* column : texts::kFinishedColumns) columns << QString::fromLatin1(column);
    finished_->setHorizontalHeaderLabels(columns);
    finished_->verticalHeader()->hide();
    finished_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    finished_->setFocusPolicy(Qt::NoFocus);
    finished_->horizontalHeader()->setStretchLastSection(true);
    for (std::size_t column = 0; column < kFinishedColumnWidths.size(); ++column)
        finished_->setColumnWidth(static_cast<int>(column), kFinishedColumnWidths[column]);
    finished_->verticalHeader()->setDefaultSectionSize(20);
    layout->addWidget(finished_, 2);
    layout->addWidget(new QLabel(QString::fromLatin1(texts::kLogCaption)));
    log_ = new QPlainTextEdit;
    log_->setObjectName("stationLog");
    log_->setReadOnly(true);
    log_->setFocusPolicy(Qt::NoFocus);
    log_->setMaximumBlockCount(kMostLogLines);
    layout->addWidget(log_, 1);
    return side;
}

void StationView::start(WorkerThreads& workers) {
    running_ = true;
    stateLine_->setText("Taking units: plug hubs in");
    scanField_->setFocus();
    workers.start([this] {
        const StationEnd end = station_->run(interrupts_);
        // Finished: the units in progress finish before the view says so, as the
        // command line waits for them. Abandoned: the flash writes end on their own.
        if (end == StationEnd::Finished) station_->waitForUnits();
        running_ = false;
        runOnGuiThread(
            this,
            [this, end] {
                deliver();
                stopButton_->setEnabled(false);
                abandonButton_->setEnabled(false);
                stateLine_->setText(end == StationEnd::Finished
                                        ? "The station has stopped."
                                        : "Abandoned: the window closes once the flash "
                                          "writes in progress are done.");
                if (ended_) ended_(end);
            },
            Qt::QueuedConnection);
    });
}

void StationView::stopTaking() {
    int none = 0;
    if (!interrupts_.compare_exchange_strong(none, 1)) return;
    stopButton_->setEnabled(false);
    stateLine_->setText("Stopped taking units: the units in progress finish.");
}

void StationView::abandon() {
    interrupts_ = 2;
    stopButton_->setEnabled(false);
    abandonButton_->setEnabled(false);
}

std::vector<std::string> StationView::unitsInProgress() const {
    std::vector<std::string> ports = station_->units().inProgress();
    std::sort(ports.begin(), ports.end(), portBefore);
    return ports;
}

void StationView::shutDown() {
    if (running_) interrupts_ = 2;
}

void StationView::scan(const QString& text) {
    std::optional<std::string> port;
    if (!selectedPort_.isEmpty()) port = selectedPort_.toStdString();
    // A station that stopped takes no more units: an ID would wait for nothing.
    const ScanResult result = running_ ? station_->scan(text.toStdString(), port)
                                       : ScanResult{false, {}, "Unit ID refused: the station has stopped"};
    scanAnswer_->setText(fromUtf8(result.line));
    scanAnswer_->setStyleSheet(result.taken ? "color: #1e6fd0;" : "color: #c62828; font-weight: bold;");
    showLine(result.line);
    if (port && result.taken) choose(selectedPort_);  // given: the tile is let go
    showQueue();
}

void StationView::choose(const QString& port) {
    const QString before = selectedPort_;
    selectedPort_ = before == port ? QString() : port;
    for (const auto& [name, tile] : tiles_) tile->setSelected(tile->port() == selectedPort_);
    scanField_->setFocus();
}

void StationView::deliver() {
    QElapsedTimer took;
    took.start();
    StationFeed::Batch batch = feed_.take();
    if (batch.present) {
        present_ = std::move(*batch.present);
        for (const std::string& port : present_) wantTile(port);
        for (const auto& [port, tile] : tiles_) tile->showPresent(isPresent(port));
    }
    for (const UnitReport& report : batch.ended) listEnded(report);
    for (auto& [port, report] : batch.latest) {
        wantTile(port);
        due_[port] = std::move(report);
    }
    makeSomeTiles();
    for (const std::string& line : batch.lines) {
        // The tally is in the header; the rest goes to the log.
        const std::string tallyStart(messages::kStationTallyFormat, 7);
        if (line.rfind(tallyStart, 0) != 0) showLine(windowWords(line));
    }
    redrawDue();
    showTally();
    showQueue();
    if (deliveryTook) deliveryTook(took.nsecsElapsed());
}

void StationView::redrawDue() {
    int soonestMs = -1;
    std::size_t redrawn = 0;
    for (auto report = due_.begin(); report != due_.end();) {
        if (redrawn == kTilesRedrawnPerTurn) {
            nextTurn();
            break;
        }
        const auto tile = tiles_.find(report->first);
        if (tile == tiles_.end()) {  // drawn once its tile is made
            ++report;
            continue;
        }
        QElapsedTimer& last = lastRedraw_[report->first];
        if (last.isValid() && last.elapsed() < kRedrawSpacingMs) {
            const int waitMs = kRedrawSpacingMs - static_cast<int>(last.elapsed());
            soonestMs = soonestMs < 0 ? waitMs : std::min(soonestMs, waitMs);
            ++report;
            continue;
        }
        last.start();
        tile->second->showReport(report->second);
        ++redrawn;
        if (tileRedrawn) tileRedrawn(report->first);
        report = due_.erase(report);
    }
    if (soonestMs >= 0 && !redrawTimer_->isActive()) redrawTimer_->start(std::max(soonestMs, 1));
}

void StationView::wantTile(const std::string& port) {
    if (tiles_.count(port) == 0) unmade_.insert(port);
}

bool StationView::isPresent(const std::string& port) const {
    return std::find(present_.begin(), present_.end(), port) != present_.end();
}

void StationView::makeSomeTiles() {
    std::vector<std::string> made;
    while (!unmade_.empty() && made.size() < kTilesPerTurn) {
        const std::string port = *unmade_.begin();
        unmade_.erase(unmade_.begin());
        auto* tile = new StationTile(fromUtf8(printableText(port)));
        connect(tile, &StationTile::chosen, this, [this, port] { choose(fromUtf8(printableText(port))); });
        tile->showPresent(isPresent(port));
        if (tileWidth_ > 0) tile->setWidth(tileWidth_);
        tiles_[port] = tile;
        made.push_back(port);
    }
    placeTiles(made);
    if (!unmade_.empty()) nextTurn();
}

void StationView::nextTurn() {
    // The rest in the next turn of the event loop, after the events waiting (the
    // tiles just made shown, laid out and painted, the other timers in between):
    // a timer, where a posted call could run in the same pass as the paint before it.
    if (!turnTimer_->isActive()) turnTimer_->start(0);
}

void StationView::takeTurn() {
    QElapsedTimer took;
    took.start();
    makeSomeTiles();
    redrawDue();
    if (deliveryTook) deliveryTook(took.nsecsElapsed());
}

void StationView::placeTiles(const std::vector<std::string>& made) {
    if (made.empty()) return;
    // Made in port order: after every tile placed, they go at the grid's end;
    // a port before one placed (a hub plugged in later on a lower port) moves the rest on.
    const bool atEnd = placed_.empty() || portBefore(placed_.back(), made.front());
    const std::size_t from = atEnd ? placed_.size() : 0;
    placed_.insert(placed_.end(), made.begin(), made.end());
    if (!atEnd) std::sort(placed_.begin(), placed_.end(), portBefore);
    for (std::size_t index = from; index < placed_.size(); ++index) {
        const int row = static_cast<int>(index) / texts::kTileColumns;
        const int column = static_cast<int>(index) % texts::kTileColumns;
        grid_->addWidget(tiles_[placed_[index]], row, column);
    }
}

bool StationView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scroller_->viewport() && event->type() == QEvent::Resize) fitTiles();
    return QWidget::eventFilter(watched, event);
}

void StationView::fitTiles() {
    // The columns share the width the tiles have; below a readable width the grid scrolls sideways.
    const int spacing = grid_->horizontalSpacing() * (texts::kTileColumns - 1);
    tileWidth_ = std::max(kNarrowestTile, (scroller_->viewport()->width() - spacing) / texts::kTileColumns);
    for (const auto& [port, tile] : tiles_) tile->setWidth(tileWidth_);
}

void StationView::listEnded(const UnitReport& report) {
    finished_->insertRow(0);
    const bool passed = report.state == UnitState::Passed;
    const QStringList cells{QDateTime::currentDateTime().toString("HH:mm:ss"),
                            fromUtf8(printableText(report.port)),
                            fromUtf8(report.unitId),
                            fromUtf8(printableText(report.serial)),
                            QString::fromLatin1(passed ? texts::kTilePassed : texts::kTileFailed),
                            fromUtf8(printableText(report.failure))};
    for (int column = 0; column < cells.size(); ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        if (!passed) item->setForeground(QColor("#c62828"));
        finished_->setItem(0, column, item);
    }
    if (finished_->rowCount() > kMostFinishedRows) finished_->removeRow(finished_->rowCount() - 1);
}

void StationView::showLine(const std::string& line) {
    log_->appendPlainText(QDateTime::currentDateTime().toString("HH:mm:ss ") + fromUtf8(line));
}

void StationView::showTally() {
    const StationTally tally = station_->units().tally();
    const int judged = tally.passed + tally.failed;
    const QString yield =
        judged == 0 ? QString("-") : QString("%1%").arg(100.0 * tally.passed / judged, 0, 'f', 1);
    tally_->setText(QString("Passed %1   Failed %2   In progress %3   Yield %4")
                        .arg(tally.passed)
                        .arg(tally.failed)
                        .arg(tally.inProgress)
                        .arg(yield));
}

void StationView::showQueue() {
    QStringList ids;
    for (const std::string& id : unitIds_.waiting()) ids << fromUtf8(id);
    if (queueList_->count() == ids.size()) {
        bool same = true;
        for (int row = 0; row < ids.size() && same; ++row) same = queueList_->item(row)->text() == ids[row];
        if (same) return;
    }
    queueList_->clear();
    queueList_->addItems(ids);
}

}  // namespace velmora::window
