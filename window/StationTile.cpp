#include "window/StationTile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>

#include "window/WindowTexts.h"

namespace velmora::window {
namespace {

// The tile's colours: a pale background per state, readable text on all of them.
struct Look {
    const char* background;
    const char* border;
};
constexpr Look kWaitingLook{"#eeeeee", "#9e9e9e"};
constexpr Look kRunningLook{"#e3f0fd", "#1e6fd0"};
constexpr Look kPassedLook{"#dff3e1", "#2e7d32"};
constexpr Look kFailedLook{"#fde2e1", "#c62828"};

// The widest time a tile makes room for.
constexpr const char* kLongestTime = "9999.9 s";

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

StationTile::StationTile(const QString& port, QWidget* parent)
    : QFrame(parent),
      port_(port),
      portLabel_(new QLabel(port)),
      timeLabel_(new QLabel),
      stateLabel_(new QLabel),
      progress_(new QProgressBar),
      identity_(new QLabel),
      versions_(new QLabel) {
    setObjectName("tile-" + port);
    setFrameStyle(QFrame::Box | QFrame::Plain);  // the frame line takes the palette's WindowText
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);  // the scan field keeps the focus
    QFont bold = portLabel_->font();
    bold.setBold(true);
    portLabel_->setFont(bold);
    stateLabel_->setFont(bold);
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(texts::kTileProgressHeight);
    // A failure line takes two lines; what does not fit is in the tooltip and the finished list.
    stateLabel_->setWordWrap(true);
    stateLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    stateLabel_->setFixedHeight(2 * stateLabel_->fontMetrics().lineSpacing());
    // Its height is fixed: no height to work out for each width at each layout.
    QSizePolicy noHeightForWidth = stateLabel_->sizePolicy();
    noHeightForWidth.setHeightForWidth(false);
    stateLabel_->setSizePolicy(noHeightForWidth);
    timeLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Kept in the layout while hidden, so a tile keeps its height from state to state.
    QSizePolicy keep = progress_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    progress_->setSizePolicy(keep);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(portLabel_, 1);
    top->addWidget(timeLabel_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 3, 4, 3);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addWidget(stateLabel_);
    layout->addWidget(progress_);
    layout->addWidget(identity_);
    layout->addWidget(versions_);
    layout->addStretch(1);
    setFixedHeight(texts::kTileHeight);  // a row of few tiles stays a row, not a wall
    for (QLabel* label : {stateLabel_, identity_, versions_}) label->setMinimumWidth(1);  // cut, not widening
    // The text stays black whatever colour the frame line takes.
    for (QLabel* label : {portLabel_, timeLabel_, stateLabel_, identity_, versions_}) {
        QPalette text = label->palette();
        text.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(text);
    }
    redraw();
}

void StationTile::showReport(const UnitReport& report) {
    report_ = report;
    redraw();
}

void StationTile::showPresent(bool present) {
    if (present == present_) return;
    present_ = present;
    // A finished unit taken off: the port waits for the next one, and a hub
    // plugged in there is not mistaken for the unit that left.
    if (!present && report_ && report_->state != UnitState::Running) report_.reset();
    redraw();
}

void StationTile::setSelected(bool selected) {
    selected_ = selected;
    redraw();
}

void StationTile::mousePressEvent(QMouseEvent* event) {
    emit chosen(port_);
    event->accept();
}

QString StationTile::stateText() const {
    if (!report_) return QString::fromLatin1(texts::kTileWaiting);
    const UnitReport& report = *report_;
    switch (report.state) {
        case UnitState::Running:
            if (report.phase.empty()) return QString::fromLatin1(texts::kTileStarting);
            return fromUtf8(report.phase) + QString(" %1%").arg(std::lround(report.progress));
        case UnitState::Passed:
            return present_ ? QString::fromLatin1(texts::kTilePassed) + ", " + texts::kTileRemove
                            : QString::fromLatin1(texts::kTileWaiting);
        case UnitState::Failed:
            return present_ ? QString::fromLatin1(texts::kTileFailed) + ": " + fromUtf8(report.failure) +
                                  ", " + texts::kTileRemove
                            : QString::fromLatin1(texts::kTileWaiting);
    }
    return {};
}

void StationTile::redraw() {
    const bool finished = report_ && report_->state != UnitState::Running;
    // A finished unit that left: the tile is the empty port's again.
    const bool waiting = !report_ || (finished && !present_);
    const Look& look = waiting                                ? kWaitingLook
                       : report_->state == UnitState::Running ? kRunningLook
                       : report_->state == UnitState::Passed  ? kPassedLook
                                                              : kFailedLook;
    // Only what changed is set: a label's new text lays its tile out again, and
    // a new palette reaches every label, so a progress step changes the bar alone.
    if (look.background != shownBackground_ || selected_ != shownSelected_) {
        shownBackground_ = look.background;
        shownSelected_ = selected_;
        // The palette, not a style sheet: a style sheet restyles the tile and its
        // labels each time, which 64 tiles at once would hold the GUI thread for.
        QPalette colours = palette();
        colours.setColor(QPalette::Window, QColor(look.background));
        colours.setColor(QPalette::WindowText, QColor(selected_ ? "#000000" : look.border));
        setPalette(colours);
        setLineWidth(selected_ ? 3 : 1);
    }
    const QString state = stateText();
    if (setText(stateLabel_, state)) stateLabel_->setToolTip(state);
    progress_->setVisible(!waiting && !finished);
    if (!waiting && !finished) showProgress(static_cast<int>(std::lround(report_->progress)));
    QString description;
    if (!waiting) {
        const UnitReport& report = *report_;
        setText(identity_, QString("SN %1   ID %2")
                               .arg(report.serial.empty() ? "-" : fromUtf8(report.serial),
                                    report.unitId.empty() ? "-" : fromUtf8(report.unitId)));
        // A failed run's hub is not asked again: what it runs afterwards is not known.
        const QString after = !finished                     ? QString("...")
                              : report.versionAfter.empty() ? QString("not read")
                                                            : fromUtf8(report.versionAfter);
        setText(versions_, QString("%1 → %2").arg(
                               report.versionBefore.empty() ? "?" : fromUtf8(report.versionBefore), after));
        setText(timeLabel_, QString("%1 s").arg(report.seconds, 0, 'f', 1));
        description = QStringList{identity_->text(), versions_->text(), timeLabel_->text()}.join("; ");
    } else {
        for (QLabel* label : {identity_, versions_, timeLabel_}) setText(label, {});
    }
    // Each change of an accessible text is an event for the screen reader: only real changes.
    const QString name = QString("Port %1: %2").arg(port_, state);
    if (accessibleName() != name) setAccessibleName(name);
    if (accessibleDescription() != description) setAccessibleDescription(description);
}

void StationTile::showProgress(int percent) {
    if (progress_->value() == percent) return;
    // A progress bar repaints itself (and the tile behind it) at once on each new
    // value; 64 of them would paint the window 64 times in one hand-over. With
    // its updates held, the new value is drawn with the window's next paint.
    progress_->setUpdatesEnabled(false);
    progress_->setValue(percent);
    progress_->setUpdatesEnabled(true);
}

void StationTile::setWidth(int width) {
    if (minimumWidth() == width && maximumWidth() == width) return;
    // The tile and each changing label of a fixed size: a new text repaints its
    // label and lays out nothing, neither the tile nor the grid of 64.
    setFixedWidth(width);
    const QMargins margins = layout()->contentsMargins();
    const int inner = width - margins.left() - margins.right() - 2 * frameWidth();
    const int line = fontMetrics().lineSpacing();
    timeLabel_->setFixedSize(timeLabel_->fontMetrics().horizontalAdvance(kLongestTime), line);
    for (QLabel* label : {identity_, versions_}) label->setFixedSize(inner, line);
    stateLabel_->setFixedWidth(inner);  // two lines high already
}

bool StationTile::setText(QLabel* label, const QString& text) {
    if (label->text() == text) return false;
    label->setText(text);
    return true;
}

}  // namespace velmora::window
