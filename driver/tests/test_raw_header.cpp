// Header variants of files written by other tools.
#include <gtest/gtest.h>

#include "norvale/RawHeader.h"

using namespace norvale;

namespace {
HeaderStatus parse(const std::string& s, RawHeader& h, bool complete = true) {
    std::string problem;
    return parseRawHeader(s.data(), s.size(), complete, h, problem);
}
} // namespace

TEST(RawHeader, OwnHeaderRoundTrip) {
    DvsFileInfo info;
    info.serialNumber = "SN42";
    info.dvsStartTimestamp = 123456;
    info.apsStartTimestamp = 99;
    const std::string text = generateDvsFileHeader(info);
    RawHeader h;
    ASSERT_EQ(parse(text + "\x01\x80", h), HeaderStatus::Ok);
    EXPECT_EQ(h.dataOffset, text.size());
    EXPECT_EQ(h.format, RawFormat::Evt3);
    EXPECT_EQ(h.width, 1280u);
    EXPECT_EQ(h.height, 720u);
    EXPECT_EQ(h.serialNumber, "SN42");
    EXPECT_TRUE(h.hasDvsStart);
    EXPECT_EQ(h.dvsStartTimestamp, 123456u);
    EXPECT_EQ(h.apsStartTimestamp, 99u);
    EXPECT_TRUE(h.hasDate);
}

TEST(RawHeader, LegacyAndNewerVariants) {
    RawHeader h;
    // legacy: "% Date", no format, no geometry, no end; geometry from the plugin name
    const std::string legacy = "% Date 2020-09-14 14:18:29\n% evt 2.0\n% plugin_name hal_plugin_gen3_fx3\n";
    ASSERT_EQ(parse(legacy + "DATA", h), HeaderStatus::Ok);
    EXPECT_EQ(h.dataOffset, legacy.size());
    EXPECT_EQ(h.format, RawFormat::Evt2);
    EXPECT_EQ(h.width, 640u);
    EXPECT_EQ(h.height, 480u);
    EXPECT_EQ(h.date, "2020-09-14 14:18:29");

    ASSERT_EQ(parse("% format EVT3 ;height= 480; width =640\n% end\n", h), HeaderStatus::Ok);
    EXPECT_EQ(h.format, RawFormat::Evt3);
    EXPECT_EQ(h.width, 640u);
    EXPECT_EQ(h.height, 480u);

    ASSERT_EQ(parse("% plugin_name hal_plugin_imx636\n", h), HeaderStatus::Ok); // nothing else: 1280 x 720
    EXPECT_EQ(h.width, 1280u);

    // an odd-length header: data starts right after it
    ASSERT_EQ(parse("% x\n\x01\x80", h), HeaderStatus::Ok);
    EXPECT_EQ(h.dataOffset, 4u);
}

TEST(RawHeader, BadHeaders) {
    RawHeader h;
    EXPECT_EQ(parse("", h), HeaderStatus::NoHeader);
    EXPECT_EQ(parse("\x89PNG\r\n", h), HeaderStatus::NoHeader);
    EXPECT_EQ(parse("% evt 4.0\n", h), HeaderStatus::UnknownFormat);
    EXPECT_EQ(parse("% format EVT5\n", h), HeaderStatus::UnknownFormat);
    // impossible geometry is ignored with a note
    std::string problem;
    const std::string g = "% geometry 99999x0\n";
    ASSERT_EQ(parseRawHeader(g.data(), g.size(), true, h, problem), HeaderStatus::Ok);
    EXPECT_EQ(h.width, 1280u);
    EXPECT_FALSE(problem.empty());
    // a header line that never ends: header without data when the buffer is the whole file,
    // too long when it is not
    const std::string endless = "% " + std::string(1000, 'a');
    ASSERT_EQ(parse(endless, h), HeaderStatus::Ok);
    EXPECT_EQ(h.dataOffset, endless.size());
    EXPECT_EQ(parse(endless, h, false), HeaderStatus::TooLong);
}
