#include "norvale/DvsFileInfo.h"

#include <locale>
#include <sstream>

#include "norvale/FuncUtils.h"

namespace norvale {

std::string generateDvsFileHeader(DvsFileInfo& info) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << "% camera_integrator_name Norvale\n"
        << "% date " << getSysTime() << '\n'
        << "% evt 3.0\n"
        << "% format EVT3; height = 720; width = 1280\n"
        << "% generation 4.2\n"
        << "% geometry 1280x720\n"
        << "% integrator_name Norvale\n"
        << "% plugin_integrator_name Norvale\n"
        << "% plugin_name hal_plugin_norvale\n"
        << "% sensor_generation 4.2\n"
        << "% sensor_name IMX646\n"
        << "% serial_number " << info.serialNumber << '\n'
        << "% system_ID 53\n"
        << "% dvs_start_timestamp " << info.dvsStartTimestamp << '\n';
    if (info.apsStartTimestamp != 0) out << "% aps_start_timestamp " << info.apsStartTimestamp << '\n';
    out << "% end\n";
    return out.str();
}

} // namespace norvale
