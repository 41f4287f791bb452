#pragma once

// NrFusionReplayPainter: turns one replay window of a fusion recording into an image. It keeps the
// recording's APS video (reader, frame index, the event time of APS time 0), picks the frame shown
// at a window's time t (the last frame whose time is <= t; the first frame before it), decodes the
// frame after it ahead (NrApsPrefetch), maps the shown frame onto the DVS grid only when it or the
// calibration changed, and paints the view: DVS (background, then the events), APS (the mapped
// frame) or fusion (the mapped frame, then the events).
//
// Threads: the player thread calls prepare and paint; the owner (GUI) thread calls setVideo and
// clear. The player's readerLock is held by every caller: it hands the painter over.
// Locks: prepare takes the calibration store's lock for a snapshot; paint runs under the
// processor's paintMutex (taken by the caller) and takes nothing more. NrApsPrefetch's mutex is a leaf.
#include <QImage>

#include <cstdint>
#include <memory>
#include <vector>

#include "norvale/ApsFileReader.h"
#include "norvale/ApsFrame.h"
#include "norvale/Event2D.h"
#include "processing/nrapsprefetch.h"
#include "processing/nrcalibrator.h"

class NrFusionCalibrationStore;
class NrFusionLiveView;

class NrFusionReplayPainter {
public:
    NrFusionReplayPainter(int width, int height);

    // The recording's video, opened and indexed (the reader at its first frame); base is the event
    // time of APS time 0.
    void setVideo(std::unique_ptr<norvale::ApsFileReader> reader, std::vector<norvale::ApsFrameIndexEntry> index,
                  uint64_t base);
    void clear();

    // Readies the APS frame of time ts for the view (mapped through calibration). False: nothing can
    // be shown (no video, or its frame cannot be read).
    bool prepare(int view, uint64_t ts, const NrFusionCalibrationStore& calibration);
    // Paints the view into image (width x height RGB888), the events drawn by views.
    void paint(int view, const std::vector<norvale::Event2D>& events, QImage& image,
               const NrFusionLiveView& views) const;

private:
    bool chooseApsFrame(uint64_t ts);

    const int width;
    const int height;
    std::unique_ptr<norvale::ApsFileReader> reader;
    std::vector<norvale::ApsFrameIndexEntry> index; // frame times, in order
    uint64_t base = 0;                              // event time of APS time 0
    norvale::ApsFrame current;
    size_t currentIndex = 0;
    bool haveCurrent = false;
    NrApsPrefetch prefetch; // decodes frame currentIndex + 1 once current is set
    norvale::NrApsMapper mapper;
    QImage mapped;
    bool mappedValid = false;
    uint64_t mappedGeneration = 0;
};
