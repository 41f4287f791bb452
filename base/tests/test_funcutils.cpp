#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>

#include "LogCapture.h"
#include "norvale/FuncUtils.h"

using namespace norvale;

namespace {

// Runs fn and returns the exception's what() text, checking its type.
template <typename E, typename Fn>
std::string thrownText(Fn fn) {
    try {
        fn();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong type: ") + e.what();
    }
    return "nothing thrown";
}

SysTimePoint localTime(int y, int mo, int d, int h, int mi, int s, int64_t micros) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = 0;
    const std::time_t t = std::mktime(&tm);
    return SysTimePoint(std::chrono::nanoseconds(int64_t(t) * 1000000000 + micros * 1000));
}

struct FuncUtilsTest : ::testing::Test {
    // A fixed zone without daylight saving keeps local-time results the same on every machine.
    void SetUp() override {
        setenv("TZ", "UTC-2", 1);
        tzset();
    }
};

} // namespace

TEST_F(FuncUtilsTest, ConvertEndian) {
    std::vector<uint8_t> even{1, 2, 3, 4};
    convertEndian(even);
    EXPECT_EQ(even, (std::vector<uint8_t>{2, 1, 4, 3}));
    std::vector<uint8_t> odd{1, 2, 3};
    convertEndian(odd);
    EXPECT_EQ(odd, (std::vector<uint8_t>{2, 1, 3}));
    std::vector<uint8_t> empty;
    convertEndian(empty);
    EXPECT_TRUE(empty.empty());
}

TEST_F(FuncUtilsTest, BigEndianAndIpFormatting) {
    const uint8_t bytes[4] = {0xC0, 0xA8, 0x01, 0x02};
    EXPECT_EQ(bufToU32BE(bytes), 0xC0A80102u);
    EXPECT_EQ(ipToString(bytes), "192.168.1.2");
    EXPECT_EQ(ipToString(0xC0A80101u), "192.168.1.1");
    EXPECT_EQ(ipToString(0u), "0.0.0.0");
}

TEST_F(FuncUtilsTest, IntAndHexPadding) {
    EXPECT_EQ(intToString(7, 0), "7");
    EXPECT_EQ(intToString(-5, 4), "00-5");
    EXPECT_EQ(intToString(42, 5), "00042");
    EXPECT_EQ(intToString(12345, 2), "12345");
    EXPECT_EQ(hexToString(10, 1), "A");
    EXPECT_EQ(hexToString(255, 4), "00FF");
    EXPECT_EQ(hexToString(-1, 2), "FFFFFFFF");
}

TEST_F(FuncUtilsTest, RestartUsbDeviceLogsAndReturnsZero) {
    LogCapture capture;
    EXPECT_EQ(restartUSBDevice(0x04b4, 0x00f5), 0);
    EXPECT_EQ(capture.text(), "info|Restart USB device: 04b4:00f5\n");
}

TEST_F(FuncUtilsTest, TimePointFormatting) {
    EXPECT_EQ(timePointToString(localTime(2024, 3, 5, 14, 7, 9, 123)), "2024-03-05 14:07:09.000123");
    EXPECT_EQ(timePointToString(localTime(2024, 12, 31, 23, 59, 59, 999999)), "2024-12-31 23:59:59.999999");
    // The UTC epoch is 02:00 in UTC+2.
    EXPECT_EQ(timePointToString(SysTimePoint{}), "1970-01-01 02:00:00.000000");
    EXPECT_EQ(getSysTime().size(), std::string("2024-03-05 14:07:09.000123").size());
}

TEST_F(FuncUtilsTest, ParseLocalTime) {
    EXPECT_EQ(parseLocalTimeString("T: 2024-01-02 03:04:05.1234567"), localTime(2024, 1, 2, 3, 4, 5, 123456));
    EXPECT_EQ(parseLocalTimeString("2024-01-02 03:04:05"), localTime(2024, 1, 2, 3, 4, 5, 0));
    EXPECT_EQ(parseLocalTimeString("2024-01-02 03:04:05.5"), localTime(2024, 1, 2, 3, 4, 5, 500000));
    EXPECT_EQ(parseLocalTimeString("2024-01-02 03:04:05."), localTime(2024, 1, 2, 3, 4, 5, 0));
    EXPECT_EQ(parseLocalTimeString("2024 - 05 - 01  12 : 30 : 00.5 trailing"),
              localTime(2024, 5, 1, 12, 30, 0, 500000));
    // Round trip with the formatter.
    const auto tp = localTime(2023, 7, 8, 9, 10, 11, 654321);
    EXPECT_EQ(parseLocalTimeString(timePointToString(tp)), tp);
}

TEST_F(FuncUtilsTest, ParseLocalTimeFailures) {
    EXPECT_EQ(thrownText<std::invalid_argument>([] { parseLocalTimeString(""); }), "Time string is empty");
    EXPECT_EQ(thrownText<std::runtime_error>([] { parseLocalTimeString("no digits here"); }), "No timestamp found");
    EXPECT_EQ(thrownText<std::runtime_error>([] { parseLocalTimeString("2024/01/02 03:04:05"); }),
              "Failed to parse time string: invalid format");
    EXPECT_EQ(thrownText<std::runtime_error>([] { parseLocalTimeString("12"); }),
              "Failed to parse time string: invalid format");
    // Beyond what 64-bit nanoseconds hold.
    EXPECT_EQ(thrownText<std::runtime_error>([] { parseLocalTimeString("9999-01-01 00:00:00"); }), "mktime failed");
}

TEST_F(FuncUtilsTest, StringToIp) {
    EXPECT_EQ(stringToIP("192.168.1.1"), 0xC0A80101u);
    EXPECT_EQ(stringToIP("192.168.1"), 0xC0A80100u);
    EXPECT_EQ(stringToIP("300.1.1.1"), 0x2C010101u);
    EXPECT_EQ(stringToIP("1.2.3.4.5"), 0x01020304u);
    EXPECT_EQ(stringToIP(" 10.0.0.7x"), 0x0A000007u);
    EXPECT_EQ(thrownText<std::invalid_argument>([] { stringToIP("a.b.c.d"); }), "stoi");
    EXPECT_EQ(thrownText<std::invalid_argument>([] { stringToIP("1..2.3"); }), "stoi");
    EXPECT_EQ(thrownText<std::out_of_range>([] { stringToIP("99999999999.1.1.1"); }), "stoi");
}

TEST_F(FuncUtilsTest, IsValidIp) {
    EXPECT_TRUE(isValidIP("192.168.1.1"));
    EXPECT_TRUE(isValidIP("0.0.0.0"));
    EXPECT_TRUE(isValidIP("1.2.3.4."));
    EXPECT_FALSE(isValidIP("192.168.01.1"));
    EXPECT_FALSE(isValidIP("192.168.1"));
    EXPECT_FALSE(isValidIP("1.2.3.4.5"));
    EXPECT_FALSE(isValidIP("1.2.3.256"));
    EXPECT_FALSE(isValidIP("1.2..4"));
    EXPECT_FALSE(isValidIP("1.2.3.-4"));
    EXPECT_FALSE(isValidIP(""));
    EXPECT_EQ(thrownText<std::out_of_range>([] { isValidIP("1.2.3.99999999999"); }), "stoi");
}

TEST_F(FuncUtilsTest, IpRoundTrip) {
    for (const char* ip : {"0.0.0.0", "255.255.255.255", "10.0.0.1", "172.16.254.3", "192.168.1.1"}) {
        ASSERT_TRUE(isValidIP(ip));
        EXPECT_EQ(ipToString(stringToIP(ip)), ip);
    }
}
