#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "norvale/DvsFileInfo.h"

using namespace norvale;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

} // namespace

TEST(DvsFileHeader, LineByLineWithoutAps) {
    DvsFileInfo info;
    info.serialNumber = "SIM-DVS-0001";
    info.dvsStartTimestamp = 5840504;
    const std::string header = generateDvsFileHeader(info);
    const auto l = lines(header);
    ASSERT_EQ(l.size(), 15u);
    EXPECT_EQ(l[0], "% camera_integrator_name Norvale");
    EXPECT_EQ(l[1].substr(0, 7), "% date ");
    EXPECT_EQ(l[1].size(), std::string("% date 2024-03-05 14:07:09.000123").size());
    EXPECT_EQ(l[2], "% evt 3.0");
    EXPECT_EQ(l[3], "% format EVT3; height = 720; width = 1280");
    EXPECT_EQ(l[4], "% generation 4.2");
    EXPECT_EQ(l[5], "% geometry 1280x720");
    EXPECT_EQ(l[6], "% integrator_name Norvale");
    EXPECT_EQ(l[7], "% plugin_integrator_name Norvale");
    EXPECT_EQ(l[8], "% plugin_name hal_plugin_norvale");
    EXPECT_EQ(l[9], "% sensor_generation 4.2");
    EXPECT_EQ(l[10], "% sensor_name IMX646");
    EXPECT_EQ(l[11], "% serial_number SIM-DVS-0001");
    EXPECT_EQ(l[12], "% system_ID 53");
    EXPECT_EQ(l[13], "% dvs_start_timestamp 5840504");
    EXPECT_EQ(l[14], "% end");
    EXPECT_EQ(header.substr(header.size() - 6), "% end\n");
    EXPECT_EQ(header.find('\r'), std::string::npos);
}

TEST(DvsFileHeader, ApsLineAndEmptySerial) {
    DvsFileInfo info;
    info.apsStartTimestamp = 123;
    info.dvsStartTimestamp = 18446744073709551615ull;
    const auto l = lines(generateDvsFileHeader(info));
    ASSERT_EQ(l.size(), 16u);
    EXPECT_EQ(l[11], "% serial_number ");
    EXPECT_EQ(l[13], "% dvs_start_timestamp 18446744073709551615");
    EXPECT_EQ(l[14], "% aps_start_timestamp 123");
    EXPECT_EQ(l[15], "% end");
    // The record is left as it was.
    EXPECT_EQ(info.apsStartTimestamp, 123u);
    EXPECT_EQ(info.serialNumber, "");
}
