// AEDAT 4 files over arbitrary bytes: opened and read block by block. No crash, no hang, no memory
// beyond the checked sizes (packet sizes against the file, inflated sizes against their bound,
// every table verified); a block never holds more than its bound, a failure always comes with a
// message, and blocks move forward. The frame stream is indexed and its first frames converted
// the same way: frames in time order, each of the canvas size.
#include <cstdlib>

#include "FuzzInput.h"
#include "formats/aedat/Aedat4Frames.h"
#include "formats/aedat/Aedat4Source.h"

namespace {

void readFrames(const std::string& path) {
    norvale::detail::Aedat4Frames frames;
    std::string problem;
    if (!frames.open(path, problem)) {
        if (problem.empty()) std::abort();
        return;
    }
    const auto& list = frames.frames();
    if (list.empty() || frames.width() <= 0 || frames.height() <= 0) std::abort();
    norvale::ApsFrame image;
    for (size_t i = 0; i < list.size() && i < 8; ++i) {
        if (i > 0 && list[i].time < list[i - 1].time) std::abort();
        problem.clear();
        if (frames.read(i, image, problem) ? image.width() != frames.width() || image.height() != frames.height()
                                           : problem.empty())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = norvale::fuzz::inputFile(data, size);
    norvale::detail::Aedat4Source source;
    norvale::fuzz::readBlocks(source, path, 64);
    readFrames(path);
    return 0;
}
