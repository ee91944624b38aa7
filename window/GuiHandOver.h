#pragma once
// Calls handed from a worker or the detection thread to the GUI thread.
#include <QObject>
#include <functional>

namespace velmora::window {

// Runs call on target's thread: blocking-queued (the caller waits until it has
// run) or queued. Besides Qt's own hand-over, each call is ordered through an
// atomic of ours: Qt's event queue and its semaphore wait on futexes directly,
// which ThreadSanitizer does not see, so without it every byte a worker writes
// before handing a call over (a read's flash contents, a detection's text) would
// show as a race with the GUI thread reading it.
void runOnGuiThread(QObject* target, const std::function<void()>& call, Qt::ConnectionType type);

}  // namespace velmora::window
