#pragma once

// Private to NrFusionCameraDataProcessor: the replay's APS side and what loading finds beside a
// recording. Threads and locks as in nrfusioncameradataprocessor.h.
#include <QImage>

#include <memory>
#include <string>
#include <vector>

#include "norvale/ApsFileReader.h"
#include "norvale/ApsFrame.h"
#include "processing/nrapsprefetch.h"
#include "processing/nrcalibrator.h"
#include "processing/nrfusioncameradataprocessor.h"

// What the loading thread finds beside the ".raw": the APS video. Owned by the load's companion.
struct NrFusionCameraDataProcessor::ApsLoad {
    std::string path;
    std::unique_ptr<norvale::ApsFileReader> reader;
    std::vector<norvale::ApsFrameIndexEntry> index; // filled, not read further
    bool failed = false;
};

// The replay's APS side (player thread): the decoded frame shown now (its place in the video's
// frame index), the decoding of the frame after it, and the shown frame mapped onto the DVS grid.
struct NrFusionCameraDataProcessor::ReplayFrames {
    std::unique_ptr<norvale::ApsFileReader> reader;
    std::vector<norvale::ApsFrameIndexEntry> index; // frame times, in order
    uint64_t base = 0;                              // event time of APS time 0
    norvale::ApsFrame current;
    size_t currentIndex = 0;
    bool haveCurrent = false;
    NrApsPrefetch prefetch; // decodes frame currentIndex + 1 once current is set
    norvale::NrApsMapper mapper;
    QImage mapped{NrFusionCameraDataProcessor::kWidth, NrFusionCameraDataProcessor::kHeight, QImage::Format_RGB888};
    bool mappedValid = false;
    uint64_t mappedGeneration = 0;
};

