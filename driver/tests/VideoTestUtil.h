#pragma once

// Decoding helpers for the video tests: read a file back with libav independently of our reader.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "norvale/Event2D.h"
#include "norvale/VideoExporter.h"

namespace testutil {

struct DecodedVideo {
    bool ok = false;
    std::string codec;
    int width = 0;
    int height = 0;
    double durationSeconds = 0;      // of the stream, from the container
    std::vector<int64_t> ptsUs;      // presentation time of each frame
    std::vector<bool> key;           // key frame flags
    std::vector<std::vector<uint8_t>> rgb; // RGB24 pixels of each frame (when kept)
};

DecodedVideo decodeVideo(const std::string& path, bool keepPixels = true);

// Mean R, G, B over a rectangle of one decoded frame.
std::array<double, 3> regionMean(const DecodedVideo& video, size_t frame, int x0, int y0, int w, int h);

using ::TempDir;

bool fileExists(const std::string& path);

// A source over events held in memory (sorted by time); counts the calls.
struct MemorySource {
    std::vector<norvale::Event2D> events;
    int calls = 0;
    uint64_t largestSpan = 0;
    norvale::EventRangeSource source(uint64_t first, uint64_t last);
};

} // namespace testutil
