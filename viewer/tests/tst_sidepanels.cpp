// The camera panels as a user meets them in the real main window at its default size (1280 x 800,
// no window manager to enlarge it): each section opens from a click on its title, its rows and the
// configuration buttons lie inside the panel (DVS and fusion cameras, English and Chinese); the DVS
// panel's tips reach the window; Apply folds the APS offset into the calibration once; a fusion
// camera's settings are kept in the fusion camera's working file, never in the DVS camera's. Beside
// the panels: a live camera drops a recording's trim handles, and the Ethernet tool's search shows
// the waiting window.
#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include "LiveWindowKit.h"
#include "Utility/Utility.h"
#include "TestEnv.h"
#include "loadconfig.h"
#include "processing/nrfusioncameradataprocessor.h"
#include "settings/settingbasewithlineedit.h"
#include "settings/settingitembox.h"
#include "settings/settingpanellayout.h"
#include "settings/sidebarapssettingui.h"
#include "settings/sidebardvssettingui.h"
#include "startup.h"
#include "ui/cameraslist.h"
#include "ui/mainwidget.h"
#include "ui/nrcamerasource.h"
#include "ui/showimageform.h"
#include "norvale/EventGenerator.h"
#include "tools/nrethcameraconfigtool.h"
#include "widgets/nrthreehandleslider.h"
#include "widgets/waitingwin.h"

#include <functional>
#include <thread>

namespace {

const QString kDvs = QStringLiteral("SIM-LIGHT-DVS");
const QString kFusion = QStringLiteral("SIM-LIGHT-FUS");

using livekit::TestWindow;

bool openCamera(TestWindow* w, const QString& serial) {
    w->serial = serial;
    testenv::child<QAction>(w, "action_open_camera")->trigger();
    auto* source = qobject_cast<NrCameraSource*>(w->source());
    return source && source->description().serial == serial.toStdString();
}

// The part of child that the panel shows, in the panel's coordinates.
QRect inPanel(QWidget* child, QWidget* panel) {
    return QRect(child->mapTo(panel, QPoint(0, 0)), child->size());
}

QByteArray digest(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

QJsonObject jsonFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}

// The integer row of a parameter ("bias_fo" is shown as "Bias Fo").
SettingBaseWithLineEdit* row(QWidget* panel, const char* name) {
    const QString shown = QString::fromStdString(convertToUppercase(name));
    for (auto* r : panel->findChildren<SettingBaseWithLineEdit*>())
        if (testenv::child<QLabel>(r, "lb_set_item_name")->text() == shown)
            return r;
    return nullptr;
}

void removeTranslators() {
    for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}

} // namespace

class TestSidePanels : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    LoadConfig* config = nullptr;

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        config = livekit::useTemporaryRecordingFolder(tmp);
        testenv::useLightCameras(tmp.path());
    }

    void cleanup() { removeTranslators(); }

    // Every panel of the camera, every section opened by a click on its title text: the fold
    // arrow, the rows (scrolled to) and the four configuration buttons are inside the panel.
    void panelsAtDefaultSize_data() {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("language");
        QTest::newRow("dvs") << kDvs << "en";
        QTest::newRow("fusion") << kFusion << "en";
        QTest::newRow("dvs zh") << kDvs << "zh";
        QTest::newRow("fusion zh") << kFusion << "zh";
    }
    void panelsAtDefaultSize() {
        QFETCH(QString, serial);
        QFETCH(QString, language);
        if (language == QLatin1String("zh"))
            installLanguage(language);
        auto w = livekit::shownWindow<TestWindow>();
        QVERIFY(w);
        QCOMPARE(w->size(), QSize(1280, 800));
        QVERIFY(openCamera(w.get(), serial));
        const bool fusion = serial == kFusion;
        // The screenshots show a streaming camera: its first figures are in the status bar.
        QTRY_VERIFY_WITH_TIMEOUT(!testenv::child<QLabel>(w.get(), "lb_status_bar")->text().trimmed().isEmpty(), 20000);

        struct Panel {
            const char* button;
            const char* panel;
            bool hasConfigButtons;
        };
        const Panel panels[] = {{"pb_fold_setting", "sidebar_camera", false},
                                {"pb_fold_dvs_setting", "sidebar_dvs", !fusion},
                                {"pb_fold_aps_setting", "sidebar_aps", fusion}};
        int shown = 0;
        for (const Panel& p : panels) {
            QPushButton* b = testenv::child<QPushButton>(w.get(), p.button);
            if (!b->isVisible())
                continue;
            ++shown;
            if (!b->isChecked())
                QTest::mouseClick(b, Qt::LeftButton);
            QWidget* panel = testenv::child<QWidget>(w.get(), p.panel);
            QTRY_VERIFY(panel->isVisible());
            QTRY_VERIFY(panel->width() >= kPanelMinWidth);
            auto* area = testenv::child<QScrollArea>(panel, "scroll_area_setting");
            const QList<SettingItemBox*> boxes = panel->findChildren<SettingItemBox*>();
            QVERIFY2(!boxes.isEmpty(), p.panel);
            for (SettingItemBox* box : boxes) {
                auto* title = testenv::child<QLabel>(box, "lb_setting_box_title_text");
                auto* container = testenv::child<QWidget>(box, "widget_container");
                auto* arrow = testenv::child<QPushButton>(box, "pb_fold");
                QVERIFY2(!container->isVisible(), qPrintable(title->text()));
                area->ensureWidgetVisible(title);
                QTest::mouseClick(title, Qt::LeftButton);
                QTRY_VERIFY2(container->isVisible(), qPrintable(title->text()));
                QVERIFY2(panel->rect().contains(inPanel(arrow, panel)), qPrintable(title->text()));
                for (QWidget* r : container->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                    area->ensureWidgetVisible(r, 0, 0);
                    QCoreApplication::processEvents();
                    QVERIFY2(r->isVisible(), qPrintable(title->text()));
                    const QRect shownPart = inPanel(r, area->viewport());
                    QVERIFY2(area->viewport()->rect().contains(shownPart),
                             qPrintable(title->text() + QLatin1Char('/') + r->objectName()));
                }
                if (box == boxes.first())
                    testenv::saveScreenshot(w.get(), QStringLiteral("panel_%1_%2_%3")
                                                         .arg(fusion ? "fusion" : "dvs", p.panel + 8, language));
                area->ensureWidgetVisible(title);
                QTest::mouseClick(title, Qt::LeftButton);
                QTRY_VERIFY2(!container->isVisible(), qPrintable(title->text()));
            }
            for (const char* name : {"default_button", "refresh_button", "import_button", "export_button"}) {
                auto* cb = panel->findChild<QPushButton*>(QLatin1String(name));
                QCOMPARE(cb != nullptr && cb->isVisible(), p.hasConfigButtons);
                if (p.hasConfigButtons)
                    QVERIFY2(panel->rect().contains(inPanel(cb, panel)), name);
            }
            // The image view gave way, not the panel: the view still shows a picture beside it.
            QVERIFY(w->imageView()->width() > 400);
        }
        QCOMPARE(shown, fusion ? 3 : 2);
    }

    // Load, Export and Default of the DVS panel tell the user through the window.
    void dvsPanelTips() {
        auto w = livekit::shownWindow<TestWindow>();
        QVERIFY(w && openCamera(w.get(), kDvs));
        livekit::Tips tips(w.get());
        QTest::mouseClick(testenv::child<QPushButton>(w->dvsSidebar(), "default_button"), Qt::LeftButton);
        const QString expected = QFile::exists(config->dvsDefaultConfigPath)
                                     ? QStringLiteral("Camera parameters loaded successfully.")
                                     : QStringLiteral("Camera parameters loaded failed.");
        QTRY_VERIFY(tips.texts.contains(expected));
    }

    // Apply folds the offset into the calibration once: the rows go back to 0, the next change
    // sends no old shift again and a second Apply does not add the first one again.
    void applyOffsetOnce() {
        auto w = livekit::shownWindow<TestWindow>();
        QVERIFY(w && openCamera(w.get(), kFusion));
        SidebarApsSettingUI* aps = w->apsSidebar();
        NrFusionCameraDataProcessor* p = w->fusionProcessor();
        auto* x = row(aps, "offset_x");
        auto* y = row(aps, "offset_y");
        QVERIFY(x && y);
        auto* apply = testenv::child<QPushButton>(aps, "pb_apply");
        QSignalSpy offsets(aps, &SidebarApsSettingUI::signalManualCaliOffsetXY);
        const std::vector<double> before = p->calibration().dvsToAps;
        QCOMPARE(before.size(), size_t(6));

        x->setCurrentValue(5);
        apply->click();
        std::vector<double> now = p->calibration().dvsToAps;
        QCOMPARE(now[2] - before[2], 5.0);
        QCOMPARE(now[5] - before[5], 0.0);
        QCOMPARE(testenv::child<QLineEdit>(x, "le_nr_line_edit")->text(), QStringLiteral("0"));

        offsets.clear();
        y->setCurrentValue(3);
        QCOMPARE(offsets.count(), 1);
        QCOMPARE(offsets.last().at(0).toDouble(), 0.0); // X was applied already
        QCOMPARE(offsets.last().at(1).toDouble(), 3.0);
        apply->click();
        apply->click(); // nothing left to apply
        now = p->calibration().dvsToAps;
        QCOMPARE(now[2] - before[2], 5.0);
        QCOMPARE(now[5] - before[5], 3.0);
    }

    // A bias changed for a fusion camera goes to the fusion camera's working file (applied to the
    // next fusion camera) and leaves the DVS camera's file as it was.
    void fusionSettingsStayWithFusionCameras() {
        const QString dvsFile = config->dvsCameraCurrentConfigPath;
        const QString fusionFile = config->fusionCameraCurrentConfigPath;
        QVERIFY(QFile::exists(dvsFile));
        QVERIFY(QFile::exists(fusionFile));
        {
            // A DVS camera first: its panel is bound to the DVS file until the fusion camera comes.
            auto w = livekit::shownWindow<TestWindow>();
            QVERIFY(w && openCamera(w.get(), kDvs));
            const QByteArray dvsBefore = digest(dvsFile);
            QVERIFY(openCamera(w.get(), kFusion));
            auto* bias = row(w->dvsSidebar(), "bias_fo");
            QVERIFY(bias);
            const int value = jsonFile(fusionFile)[QStringLiteral("Biases")].toObject()[QStringLiteral("bias_fo")].toInt() == 7 ? 6 : 7;
            bias->setCurrentValue(value);
            QCOMPARE(jsonFile(fusionFile)[QStringLiteral("Biases")].toObject()[QStringLiteral("bias_fo")].toInt(), value);
            QCOMPARE(digest(dvsFile), dvsBefore);

            // The next fusion camera starts with it.
            QVERIFY(openCamera(w.get(), kDvs));
            QVERIFY(openCamera(w.get(), kFusion));
            auto* source = qobject_cast<NrCameraSource*>(w->source());
            int held = -1;
            QVERIFY(source->tool(norvale::TOOL_BIASES)->getParam("bias_fo", held));
            QCOMPARE(held, value);
            QCOMPARE(testenv::child<QLineEdit>(row(w->dvsSidebar(), "bias_fo"), "le_nr_line_edit")->text(),
                     QString::number(value));
            QCOMPARE(digest(dvsFile), dvsBefore);
        }
    }

    // A recording's start and end handles do not follow the user to a live camera, whose
    // timeline has nothing to trim; the next recording may have them again.
    void trimHandlesStayWithRecordings() {
        const QString recording = tmp.filePath(QStringLiteral("short.raw"));
        norvale::GeneratorConfig gen;
        gen.eventRate = 1e6;
        QVERIFY(norvale::generateRecordingFile(recording.toStdString(), gen, 500000));
        auto w = livekit::shownWindow<TestWindow>();
        QVERIFY(w);
        w->nextFile = recording;
        testenv::child<QAction>(w.get(), "action_open_recording")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(testenv::child<QPushButton>(w.get(), "pb_play")->isChecked(), 20000);
        auto* trim = testenv::child<QAction>(w.get(), "action_toggle_trim");
        trim->setChecked(true);
        QVERIFY(w->timeSlider()->rangeMode());
        QVERIFY(openCamera(w.get(), kDvs));
        QVERIFY(!w->timeSlider()->rangeMode());
        QVERIFY(!trim->isChecked());
        QVERIFY(!trim->isEnabled());
        testenv::child<QAction>(w.get(), "action_open_recording")->trigger();
        QTRY_VERIFY(trim->isEnabled());
    }

    // The tool searches on a thread of its own; the window shows its waiting window meanwhile.
    void ethernetSearchShowsWaiting() {
        auto w = livekit::shownWindow<TestWindow>();
        QVERIFY(w);
        bool shown = false, hidden = false;
        w->onDialog = [&](QDialog* d) {
            auto* tool = qobject_cast<NrEthCameraConfigTool*>(d);
            if (!tool)
                return int(QDialog::Rejected);
            // The tool's own first search has reported (its list is filled after its last word), so
            // its words cannot interleave with the ones sent here.
            auto* list = tool->findChild<QListWidget*>(QStringLiteral("listWidget_cameras"));
            if (!QTest::qWaitFor([&] { return list->count() > 0 && !w->waitingWindow()->isVisible(); }, 20000))
                return int(QDialog::Rejected);
            std::thread([tool] { emit tool->signalLoadingStatus(true); }).join();
            shown = QTest::qWaitFor([&] { return w->waitingWindow()->isVisible(); }, 10000);
            std::thread([tool] { emit tool->signalLoadingStatus(false); }).join();
            hidden = QTest::qWaitFor([&] { return !w->waitingWindow()->isVisible(); }, 10000);
            return int(QDialog::Rejected);
        };
        testenv::child<QAction>(w.get(), "action_ip_config")->trigger();
        QVERIFY(shown);
        QVERIFY(hidden);
    }
};

NR_QTEST_MAIN(TestSidePanels)
#include "tst_sidepanels.moc"
