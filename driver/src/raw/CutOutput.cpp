#include "raw/CutOutput.h"

#include "norvale/Logger.h"

namespace norvale::detail {

bool CutOutput::open(const std::string& path, const FileIdentity& input) {
    if (file.open(path, input)) return true;
    NR_LOG(LOG_ERROR, "cut %s: %s", file.refused() ? "refused" : "failed", file.reason().c_str());
    return false;
}

bool CutOutput::startWriter(const DvsFileInfo& info, const SysTimePoint& recordStart) {
    if (!writer.openDescriptor(file.descriptor(), file.path(), info)) return false;
    writer.setRecordStartTime(recordStart);
    return true;
}

bool CutOutput::finish() {
    if (!writer.close()) {
        abandon();
        return false;
    }
    if (!file.commit()) {
        NR_LOG(LOG_ERROR, "cut failed: %s", file.reason().c_str());
        return false;
    }
    return true;
}

void CutOutput::abandon() {
    writer.abandon();
    file.discard();
}

} // namespace norvale::detail
