// Event Stream files over arbitrary bytes: opened and read block by block. No crash or hang; a
// block never holds more than its bound, a failure always comes with a message, and blocks move
// forward.
#include "FuzzInput.h"
#include "formats/eventstream/EsSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    norvale::detail::EsSource source;
    norvale::fuzz::readBlocks(source, norvale::fuzz::inputFile(data, size), 64);
    return 0;
}
