#pragma once

// A folder of its own under the system's temporary folder, removed with its content on destruction.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "norvale_test_XXXXXX").string();
        const char* made = ::mkdtemp(pattern.data());
        dir = made ? made : "";
    }
    ~TempDir() {
        if (dir.empty()) return;
        std::error_code ec;
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec); // a test may have locked it
        std::filesystem::remove_all(dir, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dir; }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    std::string file(const std::string& name) const { return path(name); }
    // Names of the entries, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string dir;
};
