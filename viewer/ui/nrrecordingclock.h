#pragma once

// The elapsed time of a recording in a label: "00:00:00" when it begins, then once a second, and
// nothing when it ends. A GUI-thread timer; the recordings it times run elsewhere (the camera's
// storage thread, the recorder's thread).
//
// Threads: GUI thread only.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QLabel;

class NrRecordingClock : public QObject {
    Q_OBJECT
public:
    NrRecordingClock(QLabel* label, QObject* parent = nullptr);

    // Shows and starts counting from zero, or clears and hides the label. Calling it again with the
    // same state changes nothing (a running count goes on).
    void setRunning(bool on);
    bool isRunning() const { return m_timer.isActive(); }

private:
    void tick();

    QLabel* m_label;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
};
