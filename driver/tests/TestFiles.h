#pragma once

// Temporary folder per test, small helpers to make raw files, the decoding kernels to try.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"
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

// Every EVT 3.0 kernel this machine can run.
inline std::vector<norvale::DecoderKernel> kernels() {
    std::vector<norvale::DecoderKernel> k{norvale::DecoderKernel::Portable};
    if (norvale::avx512KernelAvailable()) k.push_back(norvale::DecoderKernel::Avx512);
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
