// GoogleTest entry for the viewer's tests: per-user folders in a temporary folder, a Qt core
// application (paths, application folder), then every test.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "TestEnv.h"

int main(int argc, char** argv) {
    testenv::redirectUserFolders();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("NorvaleCamView"));
    QCoreApplication::setOrganizationName(QStringLiteral("Norvale"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
