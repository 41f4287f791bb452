#pragma once

#include <string>

#include "norvale/DvsFileInfo.h"
#include "norvale/RawFileWriter.h"
#include "norvale/SafeOutputFile.h"

namespace norvale::detail {

// Where a cut goes, apart from how its events are encoded: the output is checked and a fresh
// temporary made before any work (open), the raw writer starts on that temporary once the first
// event's time is known (startWriter), and finish() renames the whole file into place. Without
// finish() nothing is left behind. Used by the cut's thread only.
class CutOutput {
public:
    // False after a "cut refused: ..." or "cut failed: ..." log line.
    bool open(const std::string& path, const FileIdentity& input);
    bool startWriter(const DvsFileInfo& info, const SysTimePoint& recordStart);
    bool writerStarted() const { return writer.isOpen(); }
    RawFileWriter& rawWriter() { return writer; }
    // Closes the writer and commits; false after a log line (the temporary is then gone).
    bool finish();
    void abandon();

private:
    SafeOutputFile file;
    RawFileWriter writer;
};

} // namespace norvale::detail
