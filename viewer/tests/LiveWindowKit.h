#pragma once

// Helpers of the main-window tests with live cameras: the camera list's row chosen by serial, the
// tips of the window (its own, its recorder's and its processor's), named widgets, images saved as
// screenshots, the simulated-cameras file, the events in a recording.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QMenu>
#include <QPainter>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

#include "Utility/nrfilerecorder.h"
#include "loadconfig.h"
#include "norvale/DvsFileReader.h"
#include "processing/nreventsproccess.h"
#include "ui/cameraslist.h"
#include "startup.h"
#include "ui/mainwidget.h"

namespace livekit {

// Selects the row of serial; Accepted when a row is selected.
inline int chooseCamera(CamerasList* list, const QString& serial) {
    auto* rows = list->findChild<QListWidget*>(QStringLiteral("listWidget_cameras"));
    for (int i = 0; i < rows->count(); ++i)
        if (rows->item(i)->text() == serial)
            rows->setCurrentRow(i);
    return rows->currentRow() >= 0 ? QDialog::Accepted : QDialog::Rejected;
}

// The main window with its modal dialogs answered by the test: the camera list picks serial, the
// file dialog returns nextFile, every other dialog goes to onDialog (rejected without one).
class TestWindow : public MainWidget {
public:
    QString serial;
    QString nextFile;
    std::function<int(QDialog*)> onDialog;

protected:
    QString chooseRecordingFile() override { return nextFile; }
    int execDialog(QDialog* dialog) override {
        if (auto* list = qobject_cast<CamerasList*>(dialog))
            return chooseCamera(list, serial);
        return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
    }
};

inline QPushButton* button(QWidget* w, const char* name) { return w->findChild<QPushButton*>(QLatin1String(name)); }
inline QLabel* label(QWidget* w, const char* name) { return w->findChild<QLabel*>(QLatin1String(name)); }

// Every tip the window shows, in the order they arose (the recorder's come queued).
struct Tips {
    QStringList texts;
    QList<int> types;
    explicit Tips(MainWidget* w) {
        auto add = [this](const QString& t, NrMessageType type, const QString&) {
            texts << t;
            types << int(type);
        };
        QObject::connect(w, &MainWidget::signalShowLeftBottomTips, w, add);
        QObject::connect(w->recorder(), &NrFileRecorder::signalShowLeftBottomTips, w, add, Qt::QueuedConnection);
        QObject::connect(w->eventProcessor(), &NrEventProcessor::signalShowLeftBottomTips, w, add);
    }
    bool has(const QString& text, int type) const {
        for (int i = 0; i < texts.size(); ++i)
            if (texts[i] == text && types[i] == type)
                return true;
        return false;
    }
};

inline bool saveImage(const QImage& image, const QString& name) {
    const QString dir = QStringLiteral(NORVALE_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// A window of type W, 1280 x 800, shown and exposed; null when it is not.
template <class W>
std::unique_ptr<W> shownWindow() {
    auto w = std::make_unique<W>();
    w->resize(1280, 800);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    return w;
}

// The window with the menu of b open, painted where it pops up; a null image when it does not show.
inline QImage withMenu(QWidget* w, QPushButton* b) {
    QMenu* menu = b->menu();
    menu->popup(b->mapToGlobal(QPoint(0, b->height())));
    if (!QTest::qWaitForWindowExposed(menu))
        return {};
    QImage image = w->grab().toImage();
    QPainter painter(&image);
    painter.drawPixmap(w->mapFromGlobal(menu->pos()), menu->grab());
    painter.end();
    menu->hide();
    return image;
}

// The set-up of every live-window test program: the interface font, and recordings written into
// tmp's "recordings" folder. Returns the configuration the window uses.
inline LoadConfig* useTemporaryRecordingFolder(const QTemporaryDir& tmp) {
    installApplicationFont();
    LoadConfig* config = LoadConfig::getGlobalConfig();
    config->outputRawFilePath = tmp.filePath(QStringLiteral("recordings"));
    return config;
}

// The driver lists the cameras of json (a simulated-cameras file written to path) beside its own.
inline bool useSimulatedCameras(const QString& path, const char* json) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(json) < 0)
        return false;
    f.close();
    qputenv("NORVALE_SIMULATED_CAMERAS", path.toLocal8Bit());
    return true;
}

// The events of a raw file, 0 when it does not open.
inline uint64_t countEvents(const QString& path) {
    auto reader = norvale::DvsFileReader::createFileReader(path.toStdString());
    if (!reader || !reader->prepareFile())
        return 0;
    return reader->getStats().eventCount;
}

} // namespace livekit
