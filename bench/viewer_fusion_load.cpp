// Load run of the main window with live cameras (minutes, not for the test suite): a DVS camera
// first, then the fusion camera in each view for SECONDS each. Per phase: images shown per second,
// the process's CPU, resident memory at the phase's start and end, and the status bar's text (its
// dropped figure). Run under the offscreen platform or Xvfb.
// Usage: viewer_fusion_load [SECONDS] [FUSION_SERIAL]   (default 60, SIM-FUS-0001)
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "loadconfig.h"
#include "processing/nreventsproccess.h"
#include "processing/nrfusioncameradataprocessor.h"
#include "startup.h"
#include "ui/cameraslist.h"
#include "ui/mainwidget.h"

namespace {

class LoadWindow : public MainWidget {
public:
    QString serial;

protected:
    int execDialog(QDialog* dialog) override {
        auto* list = qobject_cast<CamerasList*>(dialog);
        if (!list)
            return QDialog::Rejected;
        auto* rows = list->findChild<QListWidget*>(QStringLiteral("listWidget_cameras"));
        for (int i = 0; i < rows->count(); ++i)
            if (rows->item(i)->text() == serial)
                rows->setCurrentRow(i);
        return QDialog::Accepted;
    }
};

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for seconds, counting frames; prints one line.
void phase(const char* name, MainWidget& w, int& frames, int seconds) {
    frames = 0;
    const long rssStart = residentKiB();
    const double cpuStart = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    long rssMax = rssStart;
    while (clock.elapsed() < seconds * 1000LL) {
        QTest::qWait(500);
        rssMax = std::max(rssMax, residentKiB());
    }
    const double wall = double(clock.elapsed()) / 1000.0;
    const QString status = w.findChild<QLabel*>(QStringLiteral("lb_status_bar"))->text();
    std::printf("%-12s %6.1f images/s  CPU %5.1f %% of a core  RSS %ld -> %ld MiB (max %ld)  status:%s\n", name,
                frames / wall, 100.0 * (cpuSeconds() - cpuStart) / wall, rssStart / 1024, residentKiB() / 1024,
                rssMax / 1024, qPrintable(status));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const QString fusionSerial = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("SIM-FUS-0001");
    installApplicationFont();
    LoadConfig::getGlobalConfig();
    LoadWindow w;
    w.resize(1280, 800);
    w.show();
    int frames = 0;
    QObject::connect(w.eventProcessor(), &NrEventProcessor::signalEventImage, [&frames] { ++frames; });
    QObject::connect(w.fusionProcessor(), &NrFusionCameraDataProcessor::signalFusionImage, [&frames] { ++frames; });
    std::printf("start: RSS %ld MiB\n", residentKiB() / 1024);

    w.serial = QStringLiteral("SIM-DVS-0001");
    w.slotOpenCamera();
    phase("DVS camera", w, frames, seconds);

    w.serial = fusionSerial;
    w.slotOpenCamera();
    auto* viewButton = w.findChild<QPushButton*>(QStringLiteral("pb_viewer_type"));
    const char* names[] = {"DVS view", "APS view", "fusion view"};
    for (int view : {2, 0, 1}) {
        while (w.viewerType() != view)
            viewButton->click();
        phase(names[view], w, frames, seconds);
    }
    return 0;
}
