#pragma once

// What the main window shows, as one object per kind: what play and record mean for it and the
// wiring that kind needs. MainWidget's slots delegate here instead of branching on the source type.
//
// Threads: GUI thread only (a kind may run threads of its own; its header says so).
#include <QObject>

#include "processing/nrplaybackfront.h"
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
    // What the play bar drives (steps, reset, loop, the timeline); null for a camera.
    virtual NrPlaybackFront* playbackFront() const { return nullptr; }
    // The record button was clicked; returns whether the source records now.
    virtual bool record(bool checked) {
        (void)checked;
        return false;
    }
};

// A recording: played by the front of the processor that paints it; the window connects its play
// bar to that front while the recording is shown.
class NrRecordingSource : public NrSource {
    Q_OBJECT
public:
    NrRecordingSource(NrPlaybackFront* front, QObject* parent) : NrSource(parent), front(front) {}
    NrSourceType kind() const override { return NrSourceDvsRecording; }
    NrPlaybackFront* playbackFront() const override { return front; }
    bool play(bool checked) override {
        front->slotPlaybackCtrl(checked);
        return front->isPlaying();
    }

private:
    NrPlaybackFront* front;
};

// A fusion recording (a ".raw" with an ".mp4" beside it, or an AEDAT 4 file with frames), played by
// the fusion processor's front.
class NrFusionRecordingSource : public NrRecordingSource {
    Q_OBJECT
public:
    using NrRecordingSource::NrRecordingSource;
    NrSourceType kind() const override { return NrSourceFusionRecording; }
};
