#pragma once

// The event-file formats the driver reads and writes: their names, extensions and what they can
// hold, and which format a file is. Stateless; any thread.
#include <cstdint>
#include <string>
#include <vector>

#include "norvale/DriverExport.h"
#include "norvale/RawDecoder.h"

namespace norvale {

enum class EventFileFormat : uint8_t { Evt3, Evt2, Evt21, Dat, Hdf5, Aedat4, EventStream, Csv, Npy };

struct EventFileFormatInfo {
    EventFileFormat format;
    const char* name;       // "EVT 3.0": the window title, nrraw info
    const char* key;        // "evt3": nrraw convert --format, the Python module's format=
    const char* extensions; // with the dot, space separated, the one written first: ".raw"
    bool writable;
    bool holdsTriggers;     // trigger edges survive a write
};

// Every format, readable all; in the order of the table above.
NR_DRIVER_EXPORT const std::vector<EventFileFormatInfo>& eventFileFormats();
NR_DRIVER_EXPORT const EventFileFormatInfo& formatInfo(EventFileFormat format);
// By key or name, any case ("evt21", "EVT 2.1", "hdf5").
NR_DRIVER_EXPORT bool formatFromKey(const std::string& key, EventFileFormat& format);
// A file to be written, by its extension (".raw" is EVT 3.0, ".h5" HDF5, ...). False when none matches.
NR_DRIVER_EXPORT bool formatFromExtension(const std::string& path, EventFileFormat& format);
// A file to be read, by its first bytes; text is taken as CSV when named .csv/.txt or when its first
// lines hold four numbers, and a .raw without a header is EVT 3.0. False with a message (without the
// path) when the file cannot be read or is of no known format.
NR_DRIVER_EXPORT bool detectFormat(const std::string& path, EventFileFormat& format, std::string& problem);

// The file format of a raw word stream format.
NR_DRIVER_EXPORT EventFileFormat rawFileFormat(RawFormat format);

// The smallest known sensor that holds pixels up to (maxX, maxY): 304 x 240, 320 x 240, 346 x 260,
// 640 x 480, 1280 x 720, 1280 x 800, 2048 x 2048; else the bounds themselves, rounded up to even.
NR_DRIVER_EXPORT void smallestSensorHolding(uint32_t maxX, uint32_t maxY, uint32_t& width, uint32_t& height);

} // namespace norvale
