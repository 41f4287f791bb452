// Shows what the base library does until the viewer exists: a raw file header, a calibration
// file round trip, log lines and the event-buffer pool.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "norvale/ApsFrame.h"
#include "norvale/DvsFileInfo.h"
#include "norvale/FuncUtils.h"
#include "norvale/JsonUtils.h"
#include "norvale/Logger.h"
#include "norvale/ObjectPool.h"

using namespace norvale;

int main() {
    NR_LOG(LOG_INFO, "Norvale base library demo, local time %s", getSysTime().c_str());

    DvsFileInfo info;
    info.serialNumber = "SIM-DVS-0001";
    info.dvsStartTimestamp = 5840504;
    std::printf("A raw event file header:\n%s\n", generateDvsFileHeader(info).c_str());

    CalibratorParameters params;
    params.cameraSerial = "SIM-FUSION-0001";
    params.dvsFrameCols = 1280;
    params.dvsFrameRows = 720;
    params.apsFrameCols = 1920;
    params.apsFrameRows = 1080;
    params.affineMatrix["1"].data = {1.5, 0, 0, 0, 1.5, 0};
    const std::string path = "/tmp/norvale_demo_calibration_" + std::to_string(getpid()) + ".json";
    if (paramToJsonFile(params, path)) {
        CalibratorParameters back;
        jsonFileToParam(path, back);
        std::remove(path.c_str());
    }

    auto pool = NrObjectPoolFactory::createUniqueNrObjectPool<std::vector<Event2D>>(2);
    {
        auto buffer = pool->acquire();
        buffer->push_back(Event2D{707, 297, 0, 5840504});
    }
    NR_LOG(LOG_INFO, "Event buffer pool: %zu idle buffers", pool->size());

    ApsFrame frame(640, 480, 0, 0);
    NR_LOG(LOG_INFO, "APS frame %dx%d: %llu bytes", frame.width(), frame.height(),
           static_cast<unsigned long long>(frame.getDataSize()));
    NR_LOG(LOG_INFO, "IP 192.168.1.10 is %s", isValidIP("192.168.1.10") ? "valid" : "invalid");
    return 0;
}
