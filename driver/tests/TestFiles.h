#pragma once

// Temporary folder per test, and small helpers to make raw files.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "norvale/Event2D.h"

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "norvale_test_XXXXXX").string();
        dir = ::mkdtemp(tmpl.data());
    }
    ~TempDir() { std::filesystem::remove_all(dir); }
    std::string path(const std::string& name) const { return dir + "/" + name; }

private:
    std::string dir;
};

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
