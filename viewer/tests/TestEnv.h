#pragma once

// Test helpers of the viewer: per-user folders in a temporary folder of the process, screenshots.
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

namespace testenv {

// Call before the application object exists: QStandardPaths then resolves below a fresh folder.
inline const QTemporaryDir& redirectUserFolders() {
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/norvale-test-XXXXXX"));
    const QByteArray root = home.path().toLocal8Bit();
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    qputenv("XDG_RUNTIME_DIR", root + "/runtime");
    QDir().mkpath(home.path() + QStringLiteral("/runtime"));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return home;
}

// The driver lists only two light simulated cameras (half the event rate, so that the stream keeps
// up with the wall clock on a busy machine): "SIM-LIGHT-DVS" and the fusion camera "SIM-LIGHT-FUS".
// The cameras file goes into folder.
inline void useLightCameras(const QString& folder) {
    QFile cams(folder + QStringLiteral("/cams.json"));
    cams.open(QIODevice::WriteOnly);
    cams.write(R"({"cameras": [{"serial": "SIM-LIGHT-DVS", "event_rate": 0.5},
                              {"serial": "SIM-LIGHT-FUS", "kind": "fusion", "event_rate": 0.5}]})");
    cams.close();
    qputenv("NORVALE_SIMULATED_CAMERAS", cams.fileName().toLocal8Bit());
}

#ifdef NORVALE_SCREENSHOT_DIR
// Saves what the widget shows as build/screenshots/<name>.png; returns the file path or "".
inline QString saveScreenshot(QWidget* widget, const QString& name) {
    const QString dir = QStringLiteral(NORVALE_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    return widget->grab().save(path) ? path : QString();
}
#endif

// The named child of a form; a missing one ends the test program with its name.
template <typename T>
T* child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no child %s", name);
    return c;
}

} // namespace testenv

// QTEST_MAIN with the per-user folders redirected first.
#define NR_QTEST_MAIN(TestObject)                                                                    \
    int main(int argc, char** argv) {                                                                \
        testenv::redirectUserFolders();                                                              \
        QApplication app(argc, argv);                                                                \
        TestObject tc;                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                   \
        return QTest::qExec(&tc, argc, argv);                                                        \
    }
