// Which class reads and writes each format. Each format's folder adds its line here.
#include "formats/EventBlockSource.h"
#include "formats/FormatWriter.h"
#include "formats/hdf5/Hdf5Source.h"
#include "formats/hdf5/Hdf5Writer.h"
#include "formats/aedat/Aedat4Source.h"
#include "formats/aedat/Aedat4Writer.h"
#include "formats/eventstream/EsSource.h"
#include "formats/numpy/NpyFormat.h"
#include "formats/text/CsvFormat.h"
#include "raw/RawFormatWriters.h"

namespace norvale::detail {

std::unique_ptr<EventBlockSource> makeBlockSource(EventFileFormat format) {
    switch (format) {
    case EventFileFormat::Hdf5: return std::make_unique<Hdf5Source>();
    case EventFileFormat::Aedat4: return std::make_unique<Aedat4Source>();
    case EventFileFormat::EventStream: return std::make_unique<EsSource>();
    case EventFileFormat::Csv: return makeCsvSource();
    case EventFileFormat::Npy: return makeNpySource();
    default:
        return nullptr;
    }
}

std::unique_ptr<FormatWriter> makeFormatWriter(EventFileFormat format) {
    switch (format) {
    case EventFileFormat::Hdf5: return std::make_unique<Hdf5Writer>();
    case EventFileFormat::Aedat4: return std::make_unique<Aedat4Writer>();
    case EventFileFormat::Evt3: return makeRawFormatWriter(format);
    case EventFileFormat::Evt2: return makeRawFormatWriter(format);
    case EventFileFormat::Evt21: return makeRawFormatWriter(format);
    case EventFileFormat::Dat: return makeRawFormatWriter(format);
    case EventFileFormat::Csv: return makeCsvWriter();
    case EventFileFormat::Npy: return makeNpyWriter();
    default:
        return nullptr;
    }
}

} // namespace norvale::detail
