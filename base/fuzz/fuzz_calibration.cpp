// Calibration files come from users and cameras: any bytes must give true, false or the JSON
// library's documented exception, nothing else.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "norvale/JsonUtils.h"
#include "norvale/Logger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        norvale::Logger::Instance().setLogLevel(norvale::LOG_CRITICAL);
        return true;
    }();
    (void)quiet;
    std::vector<unsigned char> bytes(data, data + size);
    norvale::CalibratorParameters params;
    try {
        norvale::jsonDataToParam(bytes, params);
    } catch (const nlohmann::json::exception&) {
    }
    return 0;
}
