// HDF5 event files over arbitrary bytes: the input is written to a temporary file, opened and read
// block by block through the HDF5 source. No crash, no hang, no memory beyond the checked sizes;
// a block never holds more than its bound, and a failure always comes with a message.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/hdf5/Hdf5Source.h"
#include "norvale/Logger.h"

using namespace norvale;
using namespace norvale::detail;

namespace {

char gPath[] = "/tmp/norvale_fuzz_hdf5_XXXXXX"; // a plain array: still there for atexit

void removeFile() { ::unlink(gPath); }

const std::string& path() {
    static const std::string made = [] {
        const int fd = ::mkstemp(gPath);
        if (fd < 0) std::abort();
        ::close(fd);
        std::atexit(removeFile);
        return std::string(gPath);
    }();
    return made;
}

} // namespace

// The library leaks a little of what it read when it gives up on some damaged object headers
// (its business, not ours); whatever we open, we close: checked below by counting open objects.
extern "C" const char* __lsan_default_suppressions() { return "leak:libhdf5_serial.so\n"; }

// Opens and reads the first blocks; a failure always comes with a message.
static void readSome(Hdf5Source& source) {
    std::string problem;
    if (!source.open(path(), problem)) {
        if (problem.empty()) std::abort();
        return;
    }
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    BlockPosition pos = source.first(), next;
    // A few blocks are enough to reach every code path; the declared length may be large.
    for (int i = 0; i < 8; ++i) {
        bool end = false;
        if (!source.read(pos, events, triggers, next, end, problem)) {
            if (problem.empty()) std::abort();
            break;
        }
        if (end) break;
        if (events.empty() || events.size() > EventBlockSource::kMaxBlockEvents || next.index <= pos.index) std::abort();
        pos = next;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path().c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    {
        Hdf5Source source;
        readSome(source);
    }
    if (H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_ALL) != 0) std::abort();
    return 0;
}
