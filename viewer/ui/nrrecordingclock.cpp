#include "ui/nrrecordingclock.h"

#include <QLabel>

#include "Utility/Utility.h"

NrRecordingClock::NrRecordingClock(QLabel* label, QObject* parent) : QObject(parent), m_label(label) {
    m_timer.setInterval(1000);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &NrRecordingClock::tick);
}

void NrRecordingClock::setRunning(bool on) {
    if (on == isRunning())
        return;
    if (!on) {
        m_timer.stop();
        m_label->clear();
        m_label->hide();
        return;
    }
    m_elapsed.start();
    m_timer.start();
    tick();
    m_label->show();
}

void NrRecordingClock::tick() {
    // Rounded: a tick a little early must not show the same second twice.
    const qint64 seconds = (m_elapsed.elapsed() + 500) / 1000;
    m_label->setText(QString::fromStdString(second2StdString(uint64_t(seconds))));
}
