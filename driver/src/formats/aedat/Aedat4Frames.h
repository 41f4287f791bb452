#pragma once

// The frames of an AEDAT 4 file: the first frame stream its description names. open() walks the
// packets once and keeps per frame its packet's place and its time (no pixels), sorted by time,
// inflating only the start of each frame packet where the frame's table lies; read() inflates one
// frame's packet whole, verifies it and converts it to a BGR ApsFrame.
//
// The frame time is the frame's central timestamp (the middle of its exposure), in the microseconds
// of the file's events. Frames of a region smaller than the sensor are placed at their position on
// a canvas of the stream's size (or, when the stream states none or a frame exceeds it, the size
// that holds every frame); pixels outside the region are black.
//
// Bad input: a packet header that runs past the packet area ends the walk (the frames before it
// stay); a frame packet that does not inflate, verify or match its declared size is left out (the
// first one named in a warning, the rest counted in a second). Inflated bodies and the canvas are
// bounded before anything is allocated.
//
// Threads: one thread at a time.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/aedat/Aedat4Source.h"
#include "norvale/ApsFrame.h"

namespace norvale::detail {

class Aedat4Frames {
public:
    struct Entry {
        uint64_t offset = 0;  // the packet header's file offset
        uint32_t stored = 0;  // the body's stored size
        int64_t time = 0;     // the frame's central timestamp
    };

    // False with problem when the file is not AEDAT 4, names no frame stream or holds no readable frame.
    // firstOnly: the walk stops at the first readable frame (enough to tell a file holds frames).
    bool open(const std::string& path, std::string& problem, bool firstOnly = false);
    int width() const { return canvasWidth; }
    int height() const { return canvasHeight; }
    const std::vector<Entry>& frames() const { return index; }
    // What was left out while indexing (empty when nothing was): the first problem met.
    const std::string& damage() const { return firstDamage; }
    // How many frame packets the index had to inflate whole (their table lay beyond their start).
    size_t wholeReads() const { return inflatedWhole; }
    // Frame i into out (reusing out's buffer when it has the canvas size), out.timestamp untouched.
    bool read(size_t i, ApsFrame& out, std::string& problem);

private:
    struct Shape {
        int64_t time = 0;
        int format = 0;
        int x = 0, y = 0, w = 0, h = 0;
    };
    enum class Peek { Indexed, ReadWhole, Failed };
    // The inflated, verified frame of the packet at offset; its shape checked against its pixels.
    bool load(uint64_t offset, uint32_t stored, Shape& shape, const uint8_t*& pixels, std::string& problem);
    // The shape from the start of the packet only (Indexed); ReadWhole when that does not tell.
    Peek peek(uint64_t offset, uint32_t stored, Shape& shape, std::string& problem);
    static bool checkShape(const Shape& shape, uint64_t have, const std::string& where, std::string& problem);

    Aedat4Source source;
    std::string filePath;
    std::vector<Entry> index;
    int canvasWidth = 0;
    int canvasHeight = 0;
    std::string firstDamage;
    size_t inflatedWhole = 0;
    std::vector<uint8_t> body;
    std::vector<uint8_t> inflated;
};

} // namespace norvale::detail
