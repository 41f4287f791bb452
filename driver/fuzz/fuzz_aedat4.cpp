// AEDAT 4 files over arbitrary bytes: the input is written to a temporary file, opened and read
// block by block. No crash, no hang, no memory beyond the checked sizes (packet sizes against the
// file, inflated sizes against their bound, every table verified); a block never holds more than
// its bound, a failure always comes with a message, and blocks move forward.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/aedat/Aedat4Source.h"

using namespace norvale;
using namespace norvale::detail;

namespace {

char gPath[] = "/tmp/norvale_fuzz_aedat4_XXXXXX"; // a plain array: still there for atexit

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path().c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    Aedat4Source source;
    std::string problem;
    if (!source.open(path(), problem)) {
        if (problem.empty()) std::abort();
        return 0;
    }
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    BlockPosition pos = source.first(), next;
    for (int i = 0; i < 64; ++i) {
        bool end = false;
        if (!source.read(pos, events, triggers, next, end, problem)) {
            if (problem.empty()) std::abort();
            break;
        }
        if (end) break;
        if (events.size() > EventBlockSource::kMaxBlockEvents) std::abort();
        // the next block starts later in the file, or later in the same packet
        if (next.offset < pos.offset || (next.offset == pos.offset && next.index <= pos.index)) std::abort();
        pos = next;
    }
    return 0;
}
