// Start-up of the viewer: attributes, font, settings and language, then the start dialog for 2 s,
// then the main window and the event loop.
#include <malloc.h>

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "loadconfig.h"
#include "norvale/SafeOutputFile.h"
#include "startup.h"
#include "ui/initdialog.h"
#include "ui/mainwidget.h"
#include "ui/showimageform.h"

int main(int argc, char* argv[]) {
    // A live camera's event buffers come and go by the megabyte: each mapped on its own, they go
    // back to the system when freed instead of staying in the heap for good.
    mallopt(M_MMAP_THRESHOLD, 512 * 1024);
    // The viewer paints on the CPU; without this the X platform loads a GL driver it never uses
    // (tens of MB resident, a software renderer on machines without a GPU).
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // The frameless window frame needs this before the application exists.
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    auto* app = new QApplication(argc, argv);
    // Killed or interrupted during an export or cut: no partial file is left beside the output.
    norvale::removeTemporariesOnTerminatingSignals("viewer: interrupted; no partial output left\n");

    installApplicationFont();
    LoadConfig* config = LoadConfig::getGlobalConfig();
    installLanguage(config->language);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/img/assets/Norvale logo_navigate.png")));

    auto* initDialog = new InitDialog();
    initDialog->exec();

    auto* mainWidget = new MainWidget();
    mainWidget->show();
    // "viewer FILE.raw" (also how the desktop menu opens files): once the window is up.
    const QString recording = recordingFromArguments(QApplication::arguments());
    if (!recording.isEmpty())
        QTimer::singleShot(0, mainWidget, [mainWidget, recording] { mainWidget->openRecording(recording); });
    // "viewer --camera SERIAL": that camera streams once the window is up.
    const QString camera = cameraFromArguments(QApplication::arguments());
    if (!camera.isEmpty())
        QTimer::singleShot(0, mainWidget, [mainWidget, camera] { mainWidget->openCamera(camera); });
    // Load runs: the images the view received in each second, on standard error.
    if (std::getenv("NORVALE_DISPLAY_STATS")) {
        auto* tick = new QTimer(mainWidget);
        QObject::connect(tick, &QTimer::timeout, mainWidget, [mainWidget, last = uint64_t(0)]() mutable {
            const uint64_t shown = mainWidget->imageView()->framesShown();
            const auto* status = mainWidget->findChild<QLabel*>(QStringLiteral("lb_status_bar"));
            std::fprintf(stderr, "display: %llu images/s |%s|\n", static_cast<unsigned long long>(shown - last),
                         status ? status->text().toLocal8Bit().constData() : "");
            last = shown;
        });
        tick->start(1000);
    }
    const int code = QApplication::exec();

    delete mainWidget;
    delete initDialog;
    delete app;
    return code;
}
