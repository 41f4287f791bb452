// Which class reads and writes each format. Each format's folder adds its line here.
#include "formats/EventBlockSource.h"
#include "formats/FormatWriter.h"

namespace norvale::detail {

std::unique_ptr<EventBlockSource> makeBlockSource(EventFileFormat format) {
    switch (format) {
    default:
        return nullptr;
    }
}

std::unique_ptr<FormatWriter> makeFormatWriter(EventFileFormat format) {
    switch (format) {
    default:
        return nullptr;
    }
}

} // namespace norvale::detail
