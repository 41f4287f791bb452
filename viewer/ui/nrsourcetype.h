#pragma once

// What the main window shows; decides what the play, record and step buttons do.
enum NrSourceType : int {
    NrSourceNone = 0,
    NrSourceDvsCamera = 1,
    NrSourceFusionCamera = 2,
    NrSourceDvsRecording = 3,
    NrSourceFusionRecording = 4, // a ".raw" with an ".mp4" of the same name beside it, or an AEDAT 4 file with frames
};
