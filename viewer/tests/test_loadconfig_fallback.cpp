#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "loadconfig.h"

// When "<application dir>/Data" cannot be made (here a file is in the way, as a read-only install
// would be), the folders fall back to the per-user data folder.
TEST(ConfigStoreFallback, UnusableApplicationFolderFallsBackToUserData) {
    const QString appData = QCoreApplication::applicationDirPath() + "/Data";
    QDir(appData).removeRecursively();
    QFile::remove(appData);
    QFile blocker(appData);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    LoadConfig config(tmp.path() + "/config.ini");
    const QString userData =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/Data";
    EXPECT_EQ(config.outputRawFilePath, userData);
    EXPECT_EQ(config.inputRawFilePath, userData);
    EXPECT_EQ(config.videoSavePath, userData);
    EXPECT_TRUE(QFileInfo(userData).isDir());
    QFile::remove(appData);
}
