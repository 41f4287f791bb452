#pragma once

// Temporary folder per test, small helpers to make raw files, the decoding kernels to try.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "norvale/DvsFileReader.h"
#include "norvale/Event2D.h"
#include "norvale/RawDecoder.h"

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline std::string words(const std::vector<uint16_t>& w) {
    return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2);
}

inline std::string sharedData(const std::string& name) { return std::string(NORVALE_SHARED_DATA_DIR) + "/" + name; }
inline bool haveSharedData(const std::string& name) { return std::filesystem::exists(sharedData(name)); }

// The EVT 3.0 kernels under test: the one NORVALE_SIMD forces (the suite runs once per kernel),
// or every kernel this machine can run.
inline std::vector<norvale::DecoderKernel> kernels() {
    using norvale::DecoderKernel;
    const char* forced = std::getenv("NORVALE_SIMD");
    if (forced && *forced) return {norvale::autoKernel()};
    std::vector<DecoderKernel> k;
    for (DecoderKernel x : {DecoderKernel::Portable, DecoderKernel::Avx2, DecoderKernel::Avx512})
        if (norvale::kernelAvailable(x)) k.push_back(x);
    return k;
}

// Any 16-bit word at all, a quarter of them TIME_HIGH so that time keeps moving (and wrapping).
inline std::string randomEvt3Words(size_t n, uint64_t seed) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        uint16_t w = uint16_t(seed >> 48);
        if ((seed >> 20) % 4 == 0) w = uint16_t(0x8000 | (w & 0xFFF));
        s.append(reinterpret_cast<const char*>(&w), 2);
    }
    return s;
}

// Rows sent as vector runs of any length (cut-short triples too) among single events, TIME_HIGH
// creeping forward and now and then back a little, trigger edges and padding: what makes a
// vectorised block fall back, or carry a vector base and time across its edge.
inline std::string vectorHeavyWords(size_t n, uint64_t seed) {
    auto next = [&seed] { return seed = seed * 6364136223846793005ull + 1442695040888963407ull; };
    std::vector<uint16_t> w{0x8100};
    uint32_t high = 0x100;
    while (w.size() < n) {
        const uint64_t r = next();
        switch ((r >> 33) % 8) {
        case 0: // time: forward, or back by less than a wrap
            high = (r >> 40) % 8 == 0 ? (high + 0xFFF - uint32_t(r >> 44) % 4) & 0xFFF : (high + 1) & 0xFFF;
            w.push_back(uint16_t(0x8000 | high));
            break;
        case 1: w.push_back(uint16_t(0x6000 | (r >> 20 & 0xFFF))); break;
        case 2: w.push_back(uint16_t(0x0000 | (r >> 20) % 760)); break; // some rows past 720
        case 3: w.push_back(uint16_t(0x2000 | (r >> 20 & 0xFFF))); break;
        case 4: case 5: { // a vector run: base, then VECT_12 / VECT_8 words
            w.push_back(uint16_t(0x3000 | (r >> 20) % 1300 | (r >> 50 & 1) << 11));
            for (uint64_t k = (r >> 24) % 7; k-- > 0;) {
                const uint64_t q = next();
                w.push_back(uint16_t(q % 3 ? 0x4000 | (q >> 20 & 0xFFF) : 0x5000 | (q >> 20 & 0xFF)));
            }
            break;
        }
        case 6: w.push_back(uint16_t(r % 64 == 0 ? 0xA000 | (r >> 20 & 0xF01) : 0x9999)); break;
        default: w.push_back(uint16_t(0x4000 | (r >> 20 & 0xFFF))); break; // a vector after whatever came before
        }
    }
    return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2);
}

// Everything a reader gives of a file, in file order (empty when it does not open).
struct FileContents {
    std::vector<norvale::Event2D> events;
    std::vector<norvale::EventTriggerIn> triggers;
};

inline FileContents readContents(const std::string& path) {
    FileContents c;
    auto r = norvale::DvsFileReader::createFileReader(path);
    if (!r || !r->prepareFile()) return c;
    r->scanRange(0, UINT64_MAX,
                 [&](const norvale::Event2D* e, size_t n, const norvale::EventTriggerIn* t, size_t k) {
                     c.events.insert(c.events.end(), e, e + n);
                     c.triggers.insert(c.triggers.end(), t, t + k);
                     return true;
                 });
    return c;
}
