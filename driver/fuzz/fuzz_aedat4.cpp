// AEDAT 4 files over arbitrary bytes: opened and read block by block. No crash, no hang, no memory
// beyond the checked sizes (packet sizes against the file, inflated sizes against their bound,
// every table verified); a block never holds more than its bound, a failure always comes with a
// message, and blocks move forward.
#include "FuzzInput.h"
#include "formats/aedat/Aedat4Source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    norvale::detail::Aedat4Source source;
    norvale::fuzz::readBlocks(source, norvale::fuzz::inputFile(data, size), 64);
    return 0;
}
