// The file paths over arbitrary bytes: a file is opened, indexed, cut and exported (a range chosen by
// the data) into a temporary folder. No crash; the input file is never changed; a cut holds exactly
// the events the reader gives for its range; the next-event query agrees with reading; nothing
// but the finished outputs is left in the folder.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "norvale/DvsFileReader.h"
#include "norvale/Logger.h"
#include "norvale/RawCut.h"
#include "norvale/VideoExporter.h"

using namespace norvale;

namespace {

char gFolder[] = "/tmp/norvale_fuzz_export_XXXXXX"; // a plain array: still there for atexit

void removeFolder() {
    for (const char* name : {"/in.raw", "/cut.raw", "/out.mp4"}) ::unlink((std::string(gFolder) + name).c_str());
    ::rmdir(gFolder);
}

std::string folder() {
    static const bool made = [] {
        if (!::mkdtemp(gFolder)) std::abort();
        std::atexit(removeFolder);
        return true;
    }();
    (void)made;
    return gFolder;
}

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::vector<std::string> names() {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(folder().c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) out.push_back(e->d_name);
        ::closedir(d);
    }
    return out;
}

// A point of [lo, hi] chosen by one byte.
uint64_t pick(uint64_t lo, uint64_t hi, uint8_t b) {
    return lo + uint64_t(double(hi - lo) * (double(b) / 255.0));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Logger::Instance().setLogLevel(LOG_CRITICAL); // damaged input is the norm here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const std::string in = folder() + "/in.raw", cut = folder() + "/cut.raw", video = folder() + "/out.mp4";
    // The last two bytes choose the range, so that any raw file is a good seed as it is.
    const std::string bytes(reinterpret_cast<const char*>(data), size - 2);
    const uint8_t* choice = data + size - 2;
    {
        std::ofstream f(in, std::ios::binary | std::ios::trunc);
        f << bytes;
    }
    {
        auto reader = DvsFileReader::createFileReader(in);
        if (reader && reader->prepareFile()) {
            uint64_t first = 0, last = 0;
            if (reader->getStartTimestamp(first) && reader->getEndTimestamp(last)) {
                const uint64_t a = pick(first, last, choice[0]);
                const uint64_t b = pick(a, last, choice[1]);
                uint64_t next = 0;
                if (!reader->nextEventTime(a, next)) std::abort();
                std::vector<Event2D> want;
                if (!reader->readRange(a, b + 1, want)) std::abort();
                // The first event at or after a is no later than any read from [a, b].
                for (const Event2D& e : want)
                    if (e.timestamp < next) std::abort();
                if (cutRawFile(*reader, a, b, cut)) {
                    auto back = DvsFileReader::createFileReader(cut);
                    std::vector<Event2D> got;
                    if (!back || !back->prepareFile() || !back->readRange(0, UINT64_MAX, got)) std::abort();
                    // Events outside 1280 x 720 make the cut refuse, so a written cut holds them all.
                    if (got != want) std::abort();
                }
                VideoExportOptions o;
                o.width = 16;
                o.height = 16;
                o.fps = 1;
                o.slowMotion = 0.001; // 1000 s of events per frame: few frames whatever the range
                o.codec = VideoCodecChoice::Mpeg4;
                exportFileToVideo(*reader, a, b, video, o);
            }
        }
    }
    if (readAll(in) != bytes) std::abort(); // the input is never written
    for (const std::string& n : names())
        if (n != "in.raw" && n != "cut.raw" && n != "out.mp4") std::abort(); // a temporary was left
    ::unlink(cut.c_str());
    ::unlink(video.c_str());
    return 0;
}
