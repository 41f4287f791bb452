#pragma once

// Helpers of the main-window tests with cameras: the tips the window shows, the camera list
// answered by serial, a shown window, the events in a recording.
#include <QFile>
#include <QListWidget>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <memory>

#include "norvale/DvsFileReader.h"
#include "ui/cameraslist.h"
#include "ui/mainwidget.h"

namespace testenv {

// Every tip the window is asked to show, in order.
struct Tips {
    QStringList texts;
    QList<int> types;
    explicit Tips(MainWidget* w) {
        QObject::connect(w, &MainWidget::signalShowLeftBottomTips, w,
                         [this](const QString& t, NrMessageType type, const QString&) {
                             texts << t;
                             types << int(type);
                         });
    }
    bool has(const QString& text, int type) const {
        for (int i = 0; i < texts.size(); ++i)
            if (texts[i] == text && types[i] == type)
                return true;
        return false;
    }
};

// Makes the row of serial current; true when a row is current afterwards.
inline bool selectCamera(CamerasList* list, const QString& serial) {
    auto* rows = list->findChild<QListWidget*>(QStringLiteral("listWidget_cameras"));
    for (int i = 0; i < rows->count(); ++i)
        if (rows->item(i)->text() == serial)
            rows->setCurrentRow(i);
    return rows->currentRow() >= 0;
}

// A window of type W, 1280 x 800, shown and exposed; null when it could not be.
template <class W>
std::unique_ptr<W> shownWindow() {
    auto w = std::make_unique<W>();
    w->resize(1280, 800);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    return w;
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

} // namespace testenv
