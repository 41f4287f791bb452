// Start-up of the viewer: attributes, font, settings and language, then the start dialog for 2 s,
// then the main window and the event loop.
#include <QApplication>
#include <QIcon>
#include <QTimer>

#include "loadconfig.h"
#include "norvale/SafeOutputFile.h"
#include "startup.h"
#include "ui/initdialog.h"
#include "ui/mainwidget.h"

int main(int argc, char* argv[]) {
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
    const int code = QApplication::exec();

    delete mainWidget;
    delete initDialog;
    delete app;
    return code;
}
