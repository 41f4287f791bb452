#pragma once

// The writers of the raw formats (EVT 3.0, 2.0, 2.1 and DAT); null for any other format.
#include <memory>

#include "formats/FormatWriter.h"

namespace norvale::detail {

std::unique_ptr<FormatWriter> makeRawFormatWriter(EventFileFormat format);

} // namespace norvale::detail
