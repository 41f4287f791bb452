// MainWidget: the recorder (timed recordings on trigger edges), trigger-in recording for the open
// DVS camera and the recording-time label.
#include <QPushButton>

#include "Utility/nrfilerecorder.h"
#include "loadconfig.h"
#include "mainwidget.h"
#include "ui/nrdvscamerasource.h"
#include "ui/nrrecordingclock.h"
#include "ui_mainwidget.h"

void MainWidget::connectRecorder() {
    m_recordingClock = new NrRecordingClock(ui->lb_recoding_time, this);
    connect(this, &MainWidget::signalRecByTime, m_recorder, &NrFileRecorder::recordingTime);
    connect(m_recorder, &NrFileRecorder::signalShowLeftBottomTips, this,
            qOverload<QString, NrMessageType, QString>(&MainWidget::slotShowLeftBottomTips));
    // The end of a timed recording comes from the recorder's thread; the state is read afresh here.
    connect(m_recorder, &NrFileRecorder::signalRecordingChanged, this, [this] { updateRecordingClock(); });
    connect(ui->pb_record, &QPushButton::toggled, this, [this] { updateRecordingClock(); });
}

void MainWidget::updateRecordingClock() {
    // The recorder goes first when the window closes. A recording by hand is the button's (the
    // recorder learns of its end only after the button has toggled); a timed one the recorder's.
    m_recordingClock->setRunning(ui->pb_record->isChecked() || (m_recorder && m_recorder->isTimedRecording()));
}

void MainWidget::initDvsCameraSettings() {
    auto* camera = qobject_cast<NrDvsCameraSource*>(m_source);
    m_recorder->setDevice(camera ? camera->camera() : nullptr);
    if (!camera)
        return;
    // One recording at a time: the record button's recordings go through the recorder as well.
    camera->setRecorder(m_recorder);
    camera->applyTriggerInRecording(*m_config);
}
