#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "Utility/Utility.h"

TEST(ViewerUtility, NameCaseConversion) {
    EXPECT_EQ(convertToUppercase(""), "");
    EXPECT_EQ(convertToUppercase("bias_diff_on"), "Bias Diff On");
    EXPECT_EQ(convertToUppercase("roi_2nd_x"), "Roi 2Nd X");
    EXPECT_EQ(convertToUppercase("__a"), "  A");
    // Letters after the first of a word are left as they are.
    EXPECT_EQ(convertToUppercase("aBC dEF"), "ABC DEF");
    EXPECT_EQ(convertToLowercase("Bias Diff On"), "bias_diff_on");
    EXPECT_EQ(convertToLowercase(convertToUppercase("bias_fo_p")), "bias_fo_p");
}

TEST(ViewerUtility, FolderHelpers) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString nested = tmp.path() + "/a/b/c";
    EXPECT_TRUE(ensurePathExists(nested));
    EXPECT_TRUE(QDir(nested).exists());
    EXPECT_TRUE(ensurePathExists(nested));

    QFile file(nested + "/x.raw");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(getDirectoryPath(nested), QDir(nested).absolutePath());
    EXPECT_EQ(getDirectoryPath(nested + "/x.raw"), QDir(nested).absolutePath());
    EXPECT_EQ(getDirectoryPath(nested + "/not_yet.raw"), nested);
    EXPECT_EQ(getDirectoryPath(tmp.path() + "/missing/file.raw"), QString());
    EXPECT_EQ(getDirectoryPath(QString()), QString());
}

TEST(ViewerUtility, VersionComparison) {
    EXPECT_TRUE(isVersionGreaterOrEqual("V1.10", "V1.9"));
    EXPECT_FALSE(isVersionGreaterOrEqual("V1.9", "V1.10"));
    EXPECT_TRUE(isVersionGreaterOrEqual("Velfox_V1.7.2", "Velfox_V1.7.2"));
    EXPECT_FALSE(isVersionGreaterOrEqual("Velfox_V1.7.1", "Velfox_V1.7.2"));
    EXPECT_TRUE(isVersionGreaterOrEqual("Velfox_V2.0 build 7", "Velfox_V1.7.2"));
    EXPECT_TRUE(isVersionGreaterOrEqual("V1.2", "V1.2.0"));
    EXPECT_FALSE(isVersionGreaterOrEqual("firmware 1.8", "V1.7.2"));
    EXPECT_FALSE(isVersionGreaterOrEqual("V1.7.2", "v1.7"));
}

TEST(ViewerUtility, SubnetTest) {
    EXPECT_TRUE(isSameSubnet("192.168.1.10", "192.168.1.200", "255.255.255.0"));
    EXPECT_FALSE(isSameSubnet("192.168.1.10", "192.168.1.200", "255.255.255.128"));
    EXPECT_FALSE(isSameSubnet("10.0.0.1", "10.0.1.1", "255.255.255.0"));
    EXPECT_TRUE(isSameSubnet("10.0.0.1", "10.0.1.1", "255.255.0.0"));
    // Not an address: false, never an exception.
    EXPECT_FALSE(isSameSubnet("", "192.168.1.2", "255.255.255.0"));
    EXPECT_FALSE(isSameSubnet("camera", "192.168.1.2", "255.255.255.0"));
    EXPECT_FALSE(isSameSubnet("192.168.1.1", "192.168.1.2", "99999999999999999999.0.0.0"));
}

TEST(ViewerUtility, TimeTexts) {
    EXPECT_EQ(timestamp2StdString(0), "00:00:000000");
    EXPECT_EQ(timestamp2StdString(61000005), "01:01:000005");
    EXPECT_EQ(timestamp2StdString(3600000000ULL), "60:00:000000");
    EXPECT_EQ(timestamp2StdString(6000000000ULL + 59999999), "100:59:999999");
    EXPECT_EQ(second2StdString(0), "00:00:00");
    EXPECT_EQ(second2StdString(3725), "01:02:05");
    EXPECT_EQ(second2StdString(360000), "100:00:00");
}

TEST(ViewerUtility, BgrToRgbKeepsRowsApart) {
    // Width 5: 15 bytes per source row, the image's rows are padded to 16.
    const int w = 5, h = 3;
    std::vector<unsigned char> bgr(static_cast<size_t>(w * h * 3));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &bgr[static_cast<size_t>((y * w + x) * 3)];
            p[0] = static_cast<unsigned char>(10 * x);      // blue
            p[1] = static_cast<unsigned char>(50 * y);      // green
            p[2] = static_cast<unsigned char>(200 + x + y); // red
        }
    const QImage image = convertBGRtoRGB(bgr.data(), w, h);
    ASSERT_EQ(image.size(), QSize(w, h));
    ASSERT_EQ(image.format(), QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(image.pixel(x, y), qRgb(200 + x + y, 50 * y, 10 * x)) << x << "," << y;
    EXPECT_TRUE(convertBGRtoRGB(bgr.data(), 0, 3).isNull());
    EXPECT_TRUE(convertBGRtoRGB(bgr.data(), -2, 3).isNull());
}
