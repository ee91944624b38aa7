#pragma once
// One port of the station view: the port, the state of the unit on it in words
// (and in colour, never in colour alone), its progress, serial number, unit ID,
// version before and after, and time taken. Its accessible name holds the port
// and the state, so a screen reader (and a test) reads it from outside.
#include <QFrame>
#include <QString>
#include <optional>

#include "production/StationDisplay.h"

class QLabel;
class QProgressBar;

namespace velmora::window {

class StationTile final : public QFrame {
    Q_OBJECT

public:
    StationTile(const QString& port, QWidget* parent = nullptr);

    // The latest report of the unit on this port.
    void showReport(const UnitReport& report);
    // Whether a supported hub is on the port now: a finished unit still there is
    // to be removed; once gone, the port waits for the next hub.
    void showPresent(bool present);
    void setSelected(bool selected);
    // The width of the grid's columns (its height is fixed).
    void setWidth(int width);

    const QString& port() const { return port_; }
    bool selected() const { return selected_; }
    // The state in words, as the tile shows it ("waiting for a hub", "erase 40%", "PASS", "FAIL: ...").
    QString stateText() const;

signals:
    void chosen(const QString& port);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void redraw();
    void showProgress(int percent);
    // Sets the label's text when it differs; whether it did.
    static bool setText(QLabel* label, const QString& text);

    QString port_;
    std::optional<UnitReport> report_;
    bool present_ = true;
    bool selected_ = false;
    const char* shownBackground_ = nullptr;  // the colours shown now: one background per state
    bool shownSelected_ = false;
    QLabel* portLabel_;
    QLabel* timeLabel_;   // time taken
    QLabel* stateLabel_;  // the state in words, on up to two lines
    QProgressBar* progress_;
    QLabel* identity_;  // serial number and unit ID
    QLabel* versions_;  // version before -> after
};

}  // namespace velmora::window
