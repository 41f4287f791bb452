#include "processing/nrmetatypes.h"

#include <QPixmap>

#include <cstdint>
#include <utility>
#include <vector>

#include "Utility/nrmessagetype.h"
#include "processing/nrrecordingplayer.h"

void nrRegisterMetaTypes() {
    static const bool done = [] {
        qRegisterMetaType<uint64_t>("uint64_t");
        qRegisterMetaType<uint32_t>("uint32_t");
        qRegisterMetaType<NrMessageType>("NrMessageType");
        qRegisterMetaType<NrTriggerList>("std::vector<std::pair<uint64_t,uint8_t> >");
        qRegisterMetaType<std::vector<uint32_t>>("std::vector<uint32_t>");
        qRegisterMetaType<QPixmap*>("QPixmap*");
        qRegisterMetaType<norvale::STREAM_TYPE>("STREAM_TYPE");
        qRegisterMetaType<norvale::STREAM_TYPE>("norvale::STREAM_TYPE");
        return true;
    }();
    (void)done;
}
