// Export and cut dialogs, and the general settings dialog.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTranslator>
#include <QtTest>

#include "TestEnv.h"
#include "loadconfig.h"
#include "settings/nrgeneralsetting.h"
#include "startup.h"
#include "tools/nrcutrawfile.h"
#include "tools/nrexportvideoui.h"
#include "widgets/nrcombobox.h"
#include "widgets/nrcomboboxbase.h"

using testenv::child;

namespace {

// The folder chooser and the create question answered without a window.
class ScriptedGeneralSetting : public NrGeneralSetting {
public:
    bool createAnswer = true;
    int asked = 0;
    QString chosen;

protected:
    bool confirmCreateFolder(const QString&) override {
        ++asked;
        return createAnswer;
    }
    QString chooseDirectory(const QString&) override { return chosen; }
};

class ScriptedExport : public NrExportVideoUI {
public:
    QString chosen;

protected:
    QString chooseDirectory(const QString&) override { return chosen; }
};

} // namespace

class TestToolDialogs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installApplicationFont(); }

    void exportDialogGettersAndRefusal() {
        ScriptedExport d;
        QCOMPARE(child<QLabel>(&d, "lb_title")->text(), QStringLiteral("Export a video"));
        QCOMPARE(child<QPushButton>(&d, "pb_save")->text(), QStringLiteral("Export"));
        QCOMPARE(child<QLineEdit>(&d, "le_file_name")->text(), QStringLiteral("xxx.mp4"));
        d.setStartTime(1000);
        d.setEndTime(5'000'000);
        d.setSaveFilePath(QStringLiteral("/data"));
        d.setSaveFileName(QStringLiteral("a.mp4"));
        QCOMPARE(d.getStartTime(), uint64_t(1000));
        QCOMPARE(d.getEndTime(), uint64_t(5'000'000));
        QCOMPARE(d.getSaveFileFullPath(), QStringLiteral("/data/a.mp4"));
        d.setSaveFilePath(QStringLiteral("/data/"));
        QCOMPARE(d.getSaveFileFullPath(), QStringLiteral("/data//a.mp4"));
        QVERIFY(d.isInputValid());

        auto* start = child<QLineEdit>(&d, "le_start_time");
        auto* startRow = child<QWidget>(&d, "frame_start_time");
        auto* endRow = child<QWidget>(&d, "frame_end_time");
        start->setText(QStringLiteral("12a"));
        QCOMPARE(d.getStartTime(), uint64_t(0)); // the getter keeps its behaviour
        QVERIFY(!child<QPushButton>(&d, "pb_save")->isEnabled());
        QVERIFY(startRow->property("invalid").toBool());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QVERIFY(!testenv::saveScreenshot(&d, QStringLiteral("export_dialog_refused")).isEmpty());
        QTest::mouseClick(child<QPushButton>(&d, "pb_save"), Qt::LeftButton);
        QVERIFY(d.isVisible()); // not accepted
        d.setStartTime(6'000'000); // after the end
        QVERIFY(!startRow->property("invalid").toBool());
        QVERIFY(endRow->property("invalid").toBool());
        QVERIFY(!d.isInputValid());
        d.setStartTime(1000);
        d.setSaveFileName(QString());
        QVERIFY(!d.isInputValid());
        d.setSaveFileName(QStringLiteral("a.mp4"));
        d.setSaveFilePath(QString());
        QVERIFY(!d.isInputValid());
        d.setSaveFilePath(QStringLiteral("/data"));
        QVERIFY(d.isInputValid());

        // Plus and minus: one frame interval, inside the recording.
        d.setTimeBounds(1000, 5'000'000);
        QTest::mouseClick(child<QPushButton>(&d, "pb_start_time_plus"), Qt::LeftButton);
        QCOMPARE(d.getStartTime(), uint64_t(34333));
        QTest::mouseClick(child<QPushButton>(&d, "pb_start_time_sub"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(&d, "pb_start_time_sub"), Qt::LeftButton);
        QCOMPARE(d.getStartTime(), uint64_t(1000));
        QTest::mouseClick(child<QPushButton>(&d, "pb_end_time_plus"), Qt::LeftButton);
        QCOMPARE(d.getEndTime(), uint64_t(5'000'000));
        QTest::mouseClick(child<QPushButton>(&d, "pb_end_time_sub"), Qt::LeftButton);
        QCOMPARE(d.getEndTime(), uint64_t(5'000'000 - 33333));

        // The folder chooser: cancelled keeps the folder, a choice replaces it.
        d.chosen.clear();
        QTest::mouseClick(child<QPushButton>(&d, "pb_select_dir"), Qt::LeftButton);
        QCOMPARE(d.getSaveFilePath(), QStringLiteral("/data"));
        d.chosen = QStringLiteral("/videos");
        QTest::mouseClick(child<QPushButton>(&d, "pb_select_dir"), Qt::LeftButton);
        QCOMPARE(d.getSaveFilePath(), QStringLiteral("/videos"));
        QVERIFY(!testenv::saveScreenshot(&d, QStringLiteral("export_dialog")).isEmpty());
        QTest::mouseClick(child<QPushButton>(&d, "pb_save"), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    void cutDialog() {
        NrCutRawFile d;
        QCOMPARE(child<QLabel>(&d, "lb_title")->text(), QStringLiteral("Cut Recording"));
        QCOMPARE(child<QPushButton>(&d, "pb_save")->text(), QStringLiteral("Cut"));
        QCOMPARE(child<QLineEdit>(&d, "le_file_name")->text(), QStringLiteral("xxx.raw"));
        d.setStartTime(0);
        d.setEndTime(2'000'000);
        d.setSaveFilePath(QStringLiteral("/data"));
        d.setSaveFileName(QStringLiteral("cut.raw"));
        QCOMPARE(d.getSaveFileFullPath(), QStringLiteral("/data/cut.raw"));
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QVERIFY(!testenv::saveScreenshot(&d, QStringLiteral("cut_dialog")).isEmpty());
        QTest::mouseClick(child<QPushButton>(&d, "pb_win_close"), Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
    }

    // A cut is a recording and starts in the recording folder; a video starts in the video folder.
    void defaultFolders() {
        LoadConfig* config = LoadConfig::getGlobalConfig();
        const QString raw = config->outputRawFilePath, video = config->videoSavePath;
        config->outputRawFilePath = QStringLiteral("/data/recordings");
        config->videoSavePath = QStringLiteral("/data/videos");
        const QString cut = NrCutRawFile::defaultSaveFolder(*config);
        const QString exported = NrExportVideoUI::defaultSaveFolder(*config);
        config->outputRawFilePath = raw;
        config->videoSavePath = video;
        QCOMPARE(cut, QStringLiteral("/data/recordings"));
        QCOMPARE(exported, QStringLiteral("/data/videos"));
    }

    void generalSettingsSaveAndCancel() {
        LoadConfig* config = LoadConfig::getGlobalConfig();
        const QString base = QDir::tempPath() + QStringLiteral("/norvale-general-") +
                             QString::number(QCoreApplication::applicationPid());
        QDir().mkpath(base + QStringLiteral("/raw"));
        config->outputRawFilePath = base + QStringLiteral("/raw");
        config->videoSavePath = base + QStringLiteral("/raw");
        config->dvsTriggerInRecEdgeType = QStringLiteral("Falling Edge");
        config->dvsBeforeTriggerInSaveTime = 0;
        config->dvsAfterTriggerInSaveTime = 7;
        config->dvsColorType = QStringLiteral("Dark");
        config->saveConfig();

        {
            ScriptedGeneralSetting d;
            QSignalSpy changed(&d, &NrGeneralSetting::signalTriggerInSaveFileParamChanged);
            auto* edge = child<NrComboBox>(&d, "cb_trigger_in_edge")->getNrComboBoxBase();
            QCOMPARE(edge->currentIndex(), 1); // "Falling Edge"
            QCOMPARE(child<NrComboBox>(&d, "widget_combobox_color_theme")->getNrComboBoxBase()->currentData().toString(),
                     QStringLiteral("Dark"));
            QTest::mouseClick(child<QPushButton>(&d, "pb_sub_trigger_in_before_time"), Qt::LeftButton);
            QCOMPARE(child<QLineEdit>(&d, "le_trigger_in_before_time")->text(), QStringLiteral("0"));
            QTest::mouseClick(child<QPushButton>(&d, "pb_add_trigger_in_after_time"), Qt::LeftButton);
            QCOMPARE(child<QLineEdit>(&d, "le_trigger_in_after_time")->text(), QStringLiteral("8"));
            QCOMPARE(config->dvsAfterTriggerInSaveTime, 7u); // nothing stored yet
            child<QLineEdit>(&d, "le_trigger_in_before_time")->setText(QStringLiteral("4294967295"));
            QTest::mouseClick(child<QPushButton>(&d, "pb_add_trigger_in_before_time"), Qt::LeftButton);
            QCOMPARE(child<QLineEdit>(&d, "le_trigger_in_before_time")->text(), QStringLiteral("4294967295"));
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            QTest::mouseClick(child<QPushButton>(&d, "pb_cancel"), Qt::LeftButton);
            QCOMPARE(changed.count(), 0);
            QCOMPARE(config->dvsAfterTriggerInSaveTime, 7u);
            QCOMPARE(config->settings->value(QStringLiteral("Setting/dvs_after_tirgger_in_save_time")).toUInt(), 7u);
        }
        {
            ScriptedGeneralSetting d;
            QSignalSpy changed(&d, &NrGeneralSetting::signalTriggerInSaveFileParamChanged);
            child<QPushButton>(&d, "sb_trigger_in_rec_enable")->click();
            child<NrComboBox>(&d, "cb_trigger_in_edge")->getNrComboBoxBase()->setCurrentIndex(0);
            child<QLineEdit>(&d, "le_trigger_in_before_time")->setText(QStringLiteral("3"));
            child<QLineEdit>(&d, "le_trigger_in_after_time")->setText(QStringLiteral("x"));
            child<NrComboBox>(&d, "widget_combobox_color_theme")->getNrComboBoxBase()->setCurrentIndex(2);
            d.chosen = base + QStringLiteral("/video");
            QTest::mouseClick(child<QPushButton>(&d, "pb_select_video_save_path"), Qt::LeftButton);
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            QTest::mouseClick(child<QPushButton>(&d, "pb_save"), Qt::LeftButton);
            QCOMPARE(d.asked, 1); // the video folder did not exist
            QVERIFY(QDir(base + QStringLiteral("/video")).exists());
            QCOMPARE(changed.count(), 1);
            QVERIFY(!d.isVisible());
        }
        QCOMPARE(config->dvsTriggerInRecEnable, true);
        QCOMPARE(config->dvsTriggerInRecEdgeType, QStringLiteral("Rising Edge"));
        QCOMPARE(config->dvsBeforeTriggerInSaveTime, 3u);
        QCOMPARE(config->dvsAfterTriggerInSaveTime, 0u);
        QCOMPARE(config->dvsColorType, QStringLiteral("RedBlue"));
        QCOMPARE(config->dvsOnColor, QColor(255, 0, 0));
        QCOMPARE(config->videoSavePath, base + QStringLiteral("/video"));
        QSettings ini(config->appDataPath + QStringLiteral("/config.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("Setting/dvs_color_type")).toString(), QStringLiteral("RedBlue"));
        QCOMPARE(ini.value(QStringLiteral("Setting/video_save_path")).toString(), base + QStringLiteral("/video"));
        QCOMPARE(ini.value(QStringLiteral("Setting/dvs_before_tirgger_in_save_time")).toUInt(), 3u);
        QDir(base).removeRecursively();
    }

    void generalSettingsFolderCheck() {
        LoadConfig* config = LoadConfig::getGlobalConfig();
        const QString before = config->outputRawFilePath;
        QTemporaryDir tmp;
        QFile file(tmp.path() + QStringLiteral("/plain.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        ScriptedGeneralSetting d;
        QSignalSpy changed(&d, &NrGeneralSetting::signalTriggerInSaveFileParamChanged);
        auto* raw = child<QLineEdit>(&d, "le_default_file_path");
        auto* reason = child<QLabel>(&d, "lb_path_error");
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));

        // Declined creation: the dialog stays, nothing stored.
        raw->setText(tmp.path() + QStringLiteral("/missing"));
        d.createAnswer = false;
        QTest::mouseClick(child<QPushButton>(&d, "pb_save"), Qt::LeftButton);
        QCOMPARE(d.asked, 1);
        QVERIFY(d.isVisible());
        QVERIFY(raw->property("invalid").toBool());
        QVERIFY(!QDir(tmp.path() + QStringLiteral("/missing")).exists());

        // A folder that cannot be created (its parent is a file).
        d.createAnswer = true;
        raw->setText(tmp.path() + QStringLiteral("/plain.txt/sub"));
        QTest::mouseClick(child<QPushButton>(&d, "pb_save"), Qt::LeftButton);
        QVERIFY(d.isVisible());
        QVERIFY(reason->isVisible());
        QVERIFY(reason->text().contains(QStringLiteral("cannot be created")));
        QVERIFY(raw->property("invalid").toBool());
        QVERIFY(!testenv::saveScreenshot(&d, QStringLiteral("general_settings_folder_refused")).isEmpty());

        // A file instead of a folder.
        raw->setText(tmp.path() + QStringLiteral("/plain.txt"));
        QTest::mouseClick(child<QPushButton>(&d, "pb_save"), Qt::LeftButton);
        QVERIFY(reason->text().contains(QStringLiteral("not a folder")));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(config->outputRawFilePath, before);
    }

    void generalSettingsScreenshots() {
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            {
                NrGeneralSetting d;
                d.show();
                QVERIFY(QTest::qWaitForWindowExposed(&d));
                QVERIFY(!testenv::saveScreenshot(&d, QStringLiteral("general_settings_file_") + language).isEmpty());
                child<QListWidget>(&d, "lw_general_setting_items")->setCurrentRow(1);
                QCOMPARE(child<QTabWidget>(&d, "tw_settings")->currentIndex(), 1);
                QVERIFY(!testenv::saveScreenshot(&d, QStringLiteral("general_settings_style_") + language).isEmpty());
                NrExportVideoUI e;
                e.setStartTime(1'000'000);
                e.setEndTime(9'000'000);
                e.setSaveFilePath(QStringLiteral("/home/user/Videos"));
                e.setSaveFileName(QStringLiteral("20250101_120000.mp4"));
                e.show();
                QVERIFY(QTest::qWaitForWindowExposed(&e));
                QVERIFY(!testenv::saveScreenshot(&e, QStringLiteral("export_dialog_") + language).isEmpty());
                if (language == QLatin1String("zh"))
                    QCOMPARE(e.windowTitle(), QString::fromUtf8("导出视频"));
            }
            for (QTranslator* t : qApp->findChildren<QTranslator*>())
                delete t;
        }
    }
};

NR_QTEST_MAIN(TestToolDialogs)
#include "tst_tooldialogs.moc"
