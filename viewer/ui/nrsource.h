#pragma once

// What the main window shows, as one object per kind: what play and record mean for it and the
// wiring that kind needs. MainWidget's slots delegate here instead of branching on the source type.
//
// Threads: GUI thread only (a kind may run threads of its own; its header says so).
#include <QObject>

#include "ui/nrsourcetype.h"

class NrSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual NrSourceType kind() const = 0;
    // True for a camera: the play bar's steps, reset, loop and timeline do not apply.
    virtual bool isLive() const { return false; }
    // The play button was clicked; returns whether the source plays now.
    virtual bool play(bool checked) = 0;
    // The record button was clicked; returns whether the source records now.
    virtual bool record(bool checked) {
        (void)checked;
        return false;
    }
};

// A DVS recording: the play bar's own signals drive the event processor (wired once by the main
// window), so a click has nothing more to do.
class NrRecordingSource : public NrSource {
    Q_OBJECT
public:
    using NrSource::NrSource;
    NrSourceType kind() const override { return NrSourceDvsRecording; }
    bool play(bool checked) override { return checked; }
};

// A fusion recording (a ".raw" with an ".mp4" beside it): the play bar's and the timeline's own
// signals drive the fusion processor the same way.
class NrFusionRecordingSource : public NrRecordingSource {
    Q_OBJECT
public:
    using NrRecordingSource::NrRecordingSource;
    NrSourceType kind() const override { return NrSourceFusionRecording; }
};
