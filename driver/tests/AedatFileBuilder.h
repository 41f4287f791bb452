#pragma once

// The pieces the AEDAT 4 tests build files from, after the published description: compressed packet
// bodies, little-endian integers, finished FlatBuffers, the stream description, saving and seeds.
#include <lz4frame.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>

namespace aedattest {

using Bytes = std::vector<uint8_t>;

inline void save(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// NORVALE_SEED_DIR set: the files made here are kept there too (the start of each, as fuzzing seeds).
inline void keepSeed(const std::string& name, const Bytes& b) {
    const char* dir = std::getenv("NORVALE_SEED_DIR");
    if (!dir) return;
    save(std::string(dir) + "/" + name, Bytes(b.begin(), b.begin() + ptrdiff_t(std::min<size_t>(b.size(), 65536))));
}

inline void putI32(Bytes& b, int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
}

inline Bytes finished(flatbuffers::FlatBufferBuilder& fbb) {
    return Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

inline Bytes lz4Frame(const Bytes& in) {
    LZ4F_preferences_t prefs{};
    prefs.frameInfo.contentSize = in.size();
    Bytes out(LZ4F_compressFrameBound(in.size(), &prefs));
    out.resize(LZ4F_compressFrame(out.data(), out.size(), in.data(), in.size(), &prefs));
    return out;
}

inline Bytes zstdFrame(const Bytes& in) {
    Bytes out(ZSTD_compressBound(in.size()));
    out.resize(ZSTD_compress(out.data(), out.size(), in.data(), in.size(), 3));
    return out;
}

// A packet body as the description's compression (1 LZ4, 3 Zstd, else none) stores it.
inline Bytes pack(int32_t compression, const Bytes& in) {
    return compression == 1 ? lz4Frame(in) : compression == 3 ? zstdFrame(in) : in;
}

// The description of three streams of a camera: events (0), triggers (1) and frames (2), each
// compressed as named; frameInfo replaces the frame stream's size attributes when given.
inline std::string streamsDescription(int32_t compression, const std::string& source,
                                      const std::string& frameInfo = std::string()) {
    const char* name = compression == 1 ? "LZ4" : compression == 3 ? "ZSTD" : "NONE";
    const std::string size = "<attr key=\"sizeX\" type=\"int\">346</attr><attr key=\"sizeY\" type=\"int\">260</attr>";
    std::string xml = "<dv version=\"2.0\"><node name=\"outInfo\" path=\"/outInfo/\">";
    const char* types[] = {"EVTS", "TRIG", "FRME"};
    for (int id = 0; id < 3; ++id)
        xml += "<node name=\"" + std::to_string(id) + "\" path=\"/outInfo/" + std::to_string(id) +
               "/\"><attr key=\"compression\" type=\"string\">" + name +
               "</attr><attr key=\"typeIdentifier\" type=\"string\">" + types[id] +
               "</attr><node name=\"info\" path=\"/outInfo/" + std::to_string(id) + "/info/\">" +
               (id == 2 && !frameInfo.empty() ? frameInfo : size) + "<attr key=\"source\" type=\"string\">" +
               source + "</attr></node></node>";
    return xml + "</node></dv>";
}

} // namespace aedattest
