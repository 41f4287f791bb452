// HDF5 event files over arbitrary bytes: the input is written to a temporary file, opened and read
// block by block through the HDF5 source. No crash, no hang, no memory beyond the checked sizes;
// a block never holds more than its bound, and a failure always comes with a message.
#include <hdf5.h>

#include "FuzzInput.h"
#include "formats/hdf5/Hdf5Source.h"

// The library leaks a little of what it read when it gives up on some damaged object headers
// (its business, not ours); whatever we open, we close: checked below by counting open objects.
extern "C" const char* __lsan_default_suppressions() { return "leak:libhdf5_serial.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = norvale::fuzz::inputFile(data, size);
    {
        norvale::detail::Hdf5Source source;
        // A few blocks reach every path; the declared length may be large.
        norvale::fuzz::readBlocks(source, path, 8);
    }
    if (H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_ALL) != 0) std::abort();
    return 0;
}
