// The DVS and APS settings panels against the simulated cameras: sections built from the tools,
// changes reaching the camera and the working configuration file, ROI refusal, the configuration
// buttons, the APS relay and the manual offset.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>
#include <QtTest>

#include "TestEnv.h"
#include "loadconfig.h"
#include "norvale/DvsCameraManager.h"
#include "settings/settingbasewithcombobox.h"
#include "settings/settingbasewithlineedit.h"
#include "settings/settingbasewithswitchbutton.h"
#include "settings/settingitembox.h"
#include "settings/sidebarapssettingui.h"
#include "settings/sidebardvssettingui.h"
#include "settings/toolsection.h"
#include "startup.h"
#include "widgets/nrcombobox.h"
#include "widgets/nrcomboboxbase.h"
#include "widgets/nrlineedit.h"
#include "widgets/nrtooltip.h"

Q_DECLARE_METATYPE(std::string)

using namespace norvale;

namespace {

const std::string kDvsSerial = "SIM-DVS-0001";
const std::string kFusionSerial = "SIM-FUS-0001";
const std::string kEthernetSerial = "SIM-ETH-0001";
const ToolType kDvsToolOrder[] = {TOOL_BIASES, TOOL_TRIGGER_IN, TOOL_ANTI_FLICKER, TOOL_EVENT_RATE_CONTROL,
                                  TOOL_EVENT_TRAIL_FILTER, TOOL_ROI};

// Load and Export answered by the test instead of a dialog.
template <class Panel>
class Answered : public Panel {
public:
    QString loadPath, exportPath;

protected:
    QString chooseConfigFile(bool forExport) override { return forExport ? exportPath : loadPath; }
};
using DvsPanel = Answered<SidebarDvsSettingUI>;
using ApsPanel = Answered<SidebarApsSettingUI>;

// The main window's order for a DVS camera (bind first) or a fusion camera (tools only).
template <class Camera>
void fillDvsPanel(SidebarDvsSettingUI& panel, const std::shared_ptr<Camera>& camera, bool bind) {
    if constexpr (std::is_same_v<Camera, DvsCamera>)
        if (bind)
            panel.setParamManagerUI(camera);
    panel.setBiasesToolToInitUI(camera->getTool(TOOL_BIASES));
    panel.setTriggerInToolUI(camera->getTool(TOOL_TRIGGER_IN));
    panel.setAntiFlickerToolUI(camera->getTool(TOOL_ANTI_FLICKER));
    panel.setEventRateControlToolUI(camera->getTool(TOOL_EVENT_RATE_CONTROL));
    panel.setEventTrailFilterToolUI(camera->getTool(TOOL_EVENT_TRAIL_FILTER));
    panel.setROIToolUI(camera->getTool(TOOL_ROI));
}

void fillApsPanel(SidebarApsSettingUI& panel, const std::shared_ptr<FusionCamera>& camera) {
    panel.setApsToolToInitUI(camera->getTool(TOOL_APS));
    panel.setApsManualCalibrationToInitUI();
    panel.setParamManagerUI(camera);
}

// Widgets of the panel's column, top to bottom.
QList<QWidget*> column(QWidget* panel) {
    auto* layout = panel->findChild<QVBoxLayout*>(QStringLiteral("verticalLayout_content"));
    QList<QWidget*> out;
    for (int i = 0; i < layout->count(); ++i)
        if (QWidget* w = layout->itemAt(i)->widget())
            out << w;
    return out;
}

QString titleOf(QWidget* w) {
    auto* box = qobject_cast<SettingItemBox*>(w);
    return box ? box->findChild<QLabel*>(QStringLiteral("lb_setting_box_title_text"))->text() : w->objectName();
}

QStringList columnTitles(QWidget* panel) {
    QStringList out;
    for (QWidget* w : column(panel))
        out << titleOf(w);
    return out;
}

SettingItemBox* section(QWidget* panel, const QString& title) {
    for (QWidget* w : column(panel))
        if (titleOf(w) == title)
            return qobject_cast<SettingItemBox*>(w);
    return nullptr;
}

QString labelOf(QWidget* row) {
    for (const char* name : {"lb_set_item_name", "lb_item_name"})
        if (auto* label = row->findChild<QLabel*>(QLatin1String(name)))
            return label->text();
    return QString();
}

// Rows of a box in order, as "Label:kind" (int, bool, enum).
QStringList rowsOf(SettingItemBox* box) {
    QStringList out;
    QLayout* layout = box->findChild<QWidget*>(QStringLiteral("widget_container"))->layout();
    for (int i = 0; i < layout->count(); ++i) {
        QWidget* row = layout->itemAt(i)->widget();
        const char* kind = qobject_cast<SettingBaseWithLineEdit*>(row)       ? "int"
                           : qobject_cast<SettingBaseWithSwitchButton*>(row) ? "bool"
                           : qobject_cast<SettingBaseWithComboBox*>(row)     ? "enum"
                                                                             : "other";
        out << labelOf(row) + QLatin1Char(':') + QLatin1String(kind);
    }
    return out;
}

template <class Row>
Row* row(QWidget* panel, const QString& label) {
    for (Row* r : panel->findChildren<Row*>())
        if (labelOf(r) == label)
            return r;
    return nullptr;
}

NrLineEditBase* edit(QWidget* panel, const QString& label) {
    auto* r = row<SettingBaseWithLineEdit>(panel, label);
    return r ? r->findChild<NrLineEditBase*>(QStringLiteral("le_nr_line_edit")) : nullptr;
}

QPushButton* switchOf(QWidget* panel, const QString& label) {
    return row<SettingBaseWithSwitchButton>(panel, label)->findChild<QPushButton*>(QStringLiteral("switchButton"));
}

QComboBox* comboOf(QWidget* panel, const QString& label) {
    return row<SettingBaseWithComboBox>(panel, label)->comboBox()->getNrComboBoxBase();
}

QString tipOf(QWidget* row) {
    auto* tip = row->findChild<NrToolTip*>();
    return tip ? tip->text() : QString();
}

QJsonObject readJson(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

void writeJson(const QString& path, const QJsonObject& object) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QJsonDocument(object).toJson());
}

QString labelFor(const std::string& name) {
    QString label;
    for (const QString& word : QString::fromStdString(name).split(QLatin1Char('_'))) {
        if (!label.isEmpty())
            label += QLatin1Char(' ');
        label += word.left(1).toUpper() + word.mid(1);
    }
    return label;
}

// Every row of the panel shows what the camera reports for that parameter.
template <class Camera>
void expectRowsShowCamera(QWidget* panel, const Camera& camera) {
    for (ToolType type : kDvsToolOrder) {
        const auto tool = camera.getTool(type);
        for (const auto& [name, info] : tool->getAllParamInfo()) {
            const QString label = labelFor(name);
            switch (info.type) {
            case PARAM_INT: {
                int v = 0;
                QVERIFY(tool->getParam(name, v));
                QCOMPARE(edit(panel, label)->text(), QString::number(v));
                break;
            }
            case PARAM_FLOAT: {
                float v = 0;
                QVERIFY(tool->getParam(name, v));
                QCOMPARE(edit(panel, label)->text(), QString::number(v, 'g', 6));
                break;
            }
            case PARAM_BOOL: {
                bool v = false;
                QVERIFY(tool->getParam(name, v));
                QCOMPARE(switchOf(panel, label)->isChecked(), v);
                break;
            }
            case PARAM_ENUM: {
                std::string v;
                QVERIFY(tool->getParam(name, v));
                QCOMPARE(comboOf(panel, label)->currentText(), QString::fromStdString(v));
                break;
            }
            }
        }
    }
}

template <class T>
T paramOf(const std::shared_ptr<CameraTool>& tool, const std::string& name) {
    T value{};
    if (!tool->getParam(name, value))
        qWarning() << "cannot read" << QString::fromStdString(name);
    return value;
}

bool isRed(NrLineEditBase* e) {
    return e->styleSheet().contains(QStringLiteral("#FF6058"));
}

} // namespace

// Panels are built once per camera and shared by the tests below, in their order: building a
// panel is what takes the time under the sanitizers.
class TestSettingPanels : public QObject {
    Q_OBJECT

    LoadConfig* config = nullptr;
    QTemporaryDir tmp;
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> dvsCamera;
    std::unique_ptr<DvsPanel> dvsPanel; // bound to dvsCamera
    std::shared_ptr<FusionCamera> fusion;
    std::unique_ptr<DvsPanel> fusionDvs; // the fusion camera's DVS tools, unbound
    std::unique_ptr<ApsPanel> fusionAps;

    // Fresh, empty working configuration files of both camera kinds.
    void resetWorkingFile() {
        for (const QString& file : {config->dvsCameraCurrentConfigPath, config->fusionCameraCurrentConfigPath}) {
            QDir().mkpath(QFileInfo(file).path());
            writeJson(file, QJsonObject());
        }
    }

    void buildFusionPanels() {
        fusionDvs = std::make_unique<DvsPanel>();
        fusionAps = std::make_unique<ApsPanel>();
        // As the main window connects them: by signature.
        for (const char* type : {"int", "bool", "float", "std::string"}) {
            const QByteArray sig = QByteArray("(std::string,") + type + ")";
            QVERIFY(QObject::connect(fusionAps.get(), QByteArray("2signalSetValue" + sig).constData(), fusionDvs.get(),
                                     QByteArray("1slotParamChangedDelivery" + sig).constData()));
        }
        fillDvsPanel(*fusionDvs, fusion, false);
        fusionDvs->setWorkingFile(config->fusionCameraCurrentConfigPath); // as the main window does
        fillApsPanel(*fusionAps, fusion);
    }

private slots:
    void initTestCase() {
        installApplicationFont();
        qRegisterMetaType<std::string>("std::string");
        qRegisterMetaType<NrMessageType>("NrMessageType");
        config = LoadConfig::getGlobalConfig();
        QVERIFY(tmp.isValid());
        resetWorkingFile();
        dvsCamera = manager.openCamera(kDvsSerial);
        QVERIFY(dvsCamera);
        // Set before building: the refresh that ends the ROI step must show it.
        QVERIFY(dvsCamera->getTool(TOOL_BIASES)->setParam("bias_diff_on", 25));
        dvsPanel = std::make_unique<DvsPanel>();
        fillDvsPanel(*dvsPanel, dvsCamera, true);
        fusion = manager.openFusionCamera(kFusionSerial);
        QVERIFY(fusion);
        QCOMPARE(QString::fromStdString(fusion->getCameraDescription().product), QStringLiteral("Velfox"));
        buildFusionPanels();
    }

    void init() { resetWorkingFile(); }

    // Sections and rows as the DVS camera's tools describe them, in the main window's order.
    void dvsSectionsFromTheTools() {
        DvsPanel& panel = *dvsPanel;
        QCOMPARE(columnTitles(&panel),
                 QStringList({"widget_config_buttons", "Biases", "Trigger In", "Anti Flicker", "Event Rate Control",
                              "Event Trail Filter", "ROI"}));
        QCOMPARE(rowsOf(section(&panel, "Biases")),
                 QStringList({"Bias Diff Off:int", "Bias Diff On:int", "Bias Fo:int", "Bias Hpf:int", "Bias Refr:int"}));
        QCOMPARE(rowsOf(section(&panel, "Trigger In")), QStringList({"Channel 0 Enable:bool", "Channel 1 Enable:bool"}));
        // The switch first, then the mode, although neither sorts first.
        QCOMPARE(rowsOf(section(&panel, "Anti Flicker")),
                 QStringList({"Anti Flicker Enable:bool", "Filtering Mode:enum", "Duty Cycle:int",
                              "High Frequency:int", "Low Frequency:int"}));
        QCOMPARE(rowsOf(section(&panel, "Event Rate Control")),
                 QStringList({"Event Rate Control Enable:bool", "Max Event Rate:int"}));
        QCOMPARE(rowsOf(section(&panel, "Event Trail Filter")),
                 QStringList({"Trail Filter Enable:bool", "Trail Filter Type:enum", "Trail Threshold:int"}));
        QCOMPARE(rowsOf(section(&panel, "ROI")),
                 QStringList({"Roi Enable:bool", "Roi Height:int", "Roi Width:int", "Roi X:int", "Roi Y:int"}));

        // Options, ranges, units and tips come from the tool.
        QComboBox* mode = comboOf(&panel, "Filtering Mode");
        QCOMPARE(mode->count(), 2);
        QCOMPARE(mode->itemText(0), QStringLiteral("band stop"));
        QCOMPARE(mode->itemText(1), QStringLiteral("band pass"));
        QCOMPARE(mode->currentIndex(), 0);
        auto* duty = row<SettingBaseWithLineEdit>(&panel, "Duty Cycle");
        QCOMPARE(duty->findChild<QSlider*>()->minimum(), 1);
        QCOMPARE(duty->findChild<QSlider*>()->maximum(), 99);
        QCOMPARE(duty->findChild<QLabel*>(QStringLiteral("lb_unit"))->text(), QStringLiteral("(%)"));
        QCOMPARE(tipOf(duty), QStringLiteral("Share of each period the blinking light is on."));
        QCOMPARE(tipOf(row<SettingBaseWithSwitchButton>(&panel, "Roi Enable")),
                 QStringLiteral("Deliver only the events inside the window."));
        QVERIFY(!tipOf(row<SettingBaseWithComboBox>(&panel, "Trail Filter Type")).isEmpty());
        // Every row shows the camera's value once the panel is built.
        QCOMPARE(edit(&panel, "Bias Diff On")->text(), QStringLiteral("25"));
        QCOMPARE(edit(&panel, "Roi Width")->text(), QString::number(dvsCamera->getWidth()));
        expectRowsShowCamera(&panel, *dvsCamera);
        for (QWidget* w : column(&panel))
            if (auto* box = qobject_cast<SettingItemBox*>(w))
                QVERIFY(box->findChild<QPushButton*>(QStringLiteral("pb_fold"))->isChecked()); // folded
    }

    // Float ranges and defaults are truncated to whole numbers.
    void floatRowsTruncate() {
        FloatParameterInfo info;
        info.description = "d";
        info.min = 0.5f;
        info.max = 99.9f;
        info.defaultValue = 50.7f;
        std::unique_ptr<SettingBaseWithLineEdit> r(makeFloatRow("duty", info));
        QCOMPARE(r->findChild<QSlider*>()->minimum(), 0);
        QCOMPARE(r->findChild<QSlider*>()->maximum(), 99);
        QCOMPARE(r->findChild<NrLineEditBase*>()->text(), QStringLiteral("50"));
        QCOMPARE(truncateToInt(-2.9f), -2);
        QCOMPARE(truncateToInt(1e20f), INT_MAX);
    }

    // Done when: both panels from the fusion camera; a bias changed through a row is in the
    // camera and in the working configuration file; the other kinds of row too.
    void fusionCameraChangesReachCameraAndFile() {
        DvsPanel& dvs = *fusionDvs;
        ApsPanel& aps = *fusionAps;
        QVERIFY(!columnTitles(&dvs).contains(QStringLiteral("widget_config_buttons"))); // not bound
        QCOMPARE(columnTitles(&aps), QStringList({"APS", "APS Manual Calibration", "widget_config_buttons"}));
        QCOMPARE(rowsOf(section(&aps, "APS")), QStringList({"Auto Exposure:bool", "Exposure:int", "Gain:int"}));

        // A fusion camera's settings go to its own working file, never the DVS camera's.
        const QString file = config->fusionCameraCurrentConfigPath;
        edit(&dvs, "Bias Diff On")->setText(QStringLiteral("30"));
        QCOMPARE(paramOf<int>(fusion->getTool(TOOL_BIASES), "bias_diff_on"), 30);
        QCOMPARE(readJson(file)["Biases"].toObject()["bias_diff_on"].toInt(), 30);
        QVERIFY(readJson(config->dvsCameraCurrentConfigPath).isEmpty());

        QTest::mouseClick(switchOf(&dvs, "Channel 1 Enable"), Qt::LeftButton);
        QCOMPARE(paramOf<bool>(fusion->getTool(TOOL_TRIGGER_IN), "channel_1_enable"), true);
        QCOMPARE(readJson(file)["TirggerIn"].toObject()["channel_1_enable"], QJsonValue(true));

        const auto afk = fusion->getTool(TOOL_ANTI_FLICKER);
        edit(&dvs, "Duty Cycle")->setText(QStringLiteral("40"));
        QCOMPARE(paramOf<float>(afk, "duty_cycle"), 40.0f);
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(raw.readAll().contains("\"duty_cycle\": 40\n")); // an integer in the file
        comboOf(&dvs, "Filtering Mode")->setCurrentIndex(1);
        QCOMPARE(paramOf<std::string>(afk, "filtering_mode"), std::string("band pass"));
        QCOMPARE(readJson(file)["AntiFlicker"].toObject()["filtering_mode"].toString(), QStringLiteral("band pass"));
        // A value the camera refuses (low above high) stays out of the file, which must still load.
        edit(&dvs, "Low Frequency")->setText(QStringLiteral("600"));
        QCOMPARE(paramOf<int>(afk, "low_frequency"), 50);
        QVERIFY(!readJson(file)["AntiFlicker"].toObject().contains(QStringLiteral("low_frequency")));
        QVERIFY(fusion->loadCameraConfigParams(file.toStdString()));

        // APS rows write the camera and the fusion camera's working file, which still loads.
        const auto apsTool = fusion->getTool(TOOL_APS);
        edit(&aps, "Exposure")->setText(QStringLiteral("20000"));
        edit(&aps, "Gain")->setText(QStringLiteral("4"));
        QTest::mouseClick(switchOf(&aps, "Auto Exposure"), Qt::LeftButton);
        QCOMPARE(paramOf<int>(apsTool, "exposure"), 20000);
        QCOMPARE(paramOf<float>(apsTool, "gain"), 4.0f);
        QCOMPARE(paramOf<bool>(apsTool, "auto_exposure"), true);
        const QJsonObject apsSaved = readJson(file)["APS"].toObject();
        QCOMPARE(apsSaved["exposure"].toInt(), 20000);
        QCOMPARE(apsSaved["gain"].toDouble(), 4.0);
        QCOMPARE(apsSaved["auto_exposure"], QJsonValue(true));
        QVERIFY(fusion->loadCameraConfigParams(file.toStdString()));

        // The APS panel's Refresh fills the DVS rows (through the relay) and its own rows.
        QVERIFY(fusion->getTool(TOOL_BIASES)->setParam("bias_diff_off", 12));
        QVERIFY(fusion->getTool(TOOL_EVENT_RATE_CONTROL)->setParam("event_rate_control_enable", true));
        QVERIFY(apsTool->setParam("exposure", 3000));
        QTest::mouseClick(aps.findChild<QPushButton*>(QStringLiteral("refresh_button")), Qt::LeftButton);
        QCOMPARE(edit(&dvs, "Bias Diff Off")->text(), QStringLiteral("12"));
        QVERIFY(switchOf(&dvs, "Event Rate Control Enable")->isChecked());
        QCOMPARE(edit(&aps, "Exposure")->text(), QStringLiteral("3000"));
        expectRowsShowCamera(&dvs, *fusion);

        // Default applies the shipped fusion configuration to the whole camera.
        QSignalSpy tips(&aps, qOverload<QString, NrMessageType, QString>(&SidebarApsSettingUI::signalShowLeftBottomTips));
        QTest::mouseClick(aps.findChild<QPushButton*>(QStringLiteral("default_button")), Qt::LeftButton);
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.last().at(0).toString(), QStringLiteral("Camera parameters loaded successfully."));
        QCOMPARE(edit(&dvs, "Bias Diff On")->text(), QStringLiteral("0"));
        QCOMPARE(edit(&aps, "Exposure")->text(), QString::number(paramOf<int>(apsTool, "exposure")));
        expectRowsShowCamera(&dvs, *fusion);
    }

    // The manual offset is announced at once; Apply only asks for it to be applied. Without an
    // APS tool only the calibration box is there.
    void manualOffset() {
        SidebarApsSettingUI aps;
        aps.setApsToolToInitUI(dvsCamera->getTool(TOOL_APS)); // a DVS camera has none
        aps.setApsManualCalibrationToInitUI();
        QCOMPARE(columnTitles(&aps), QStringList({"APS Manual Calibration"}));
        QSignalSpy offsets(&aps, &SidebarApsSettingUI::signalManualCaliOffsetXY);
        QSignalSpy applied(&aps, &SidebarApsSettingUI::signalApplyCaliOffset);
        QCOMPARE(tipOf(row<SettingBaseWithLineEdit>(&aps, "Offset X")), QStringLiteral("Set aps offset x."));
        QCOMPARE(row<SettingBaseWithLineEdit>(&aps, "Offset Y")->findChild<QSlider*>()->minimum(), -100);
        QCOMPARE(edit(&aps, "Offset X")->text(), QStringLiteral("0"));
        edit(&aps, "Offset X")->setText(QStringLiteral("-37"));
        QCOMPARE(offsets.count(), 1);
        QCOMPARE(offsets.last().at(0).toDouble(), -37.0);
        QCOMPARE(offsets.last().at(1).toDouble(), 0.0);
        edit(&aps, "Offset Y")->setText(QStringLiteral("5"));
        QCOMPARE(offsets.last().at(0).toDouble(), -37.0);
        QCOMPARE(offsets.last().at(1).toDouble(), 5.0);
        QCOMPARE(applied.count(), 0);
        QTest::mouseClick(aps.findChild<QPushButton*>(QStringLiteral("pb_apply")), Qt::LeftButton);
        QCOMPARE(applied.count(), 1);
        // Applied, the shift lies in the calibration: the rows start again from 0, and the next
        // change does not send the applied X again.
        QCOMPARE(edit(&aps, "Offset X")->text(), QStringLiteral("0"));
        QCOMPARE(edit(&aps, "Offset Y")->text(), QStringLiteral("0"));
        edit(&aps, "Offset Y")->setText(QStringLiteral("2"));
        QCOMPARE(offsets.last().at(0).toDouble(), 0.0);
        QCOMPARE(offsets.last().at(1).toDouble(), 2.0);
        // Rebuilt, the rows show the offsets in use.
        aps.setApsManualCalibrationToInitUI();
        QCOMPARE(edit(&aps, "Offset Y")->text(), QStringLiteral("2"));
        QCOMPARE(columnTitles(&aps), QStringList({"APS Manual Calibration"}));
    }

    // A window the camera refuses turns every ROI number red until one is accepted.
    void roiRefusalAndRecovery() {
        DvsPanel& panel = *dvsPanel;
        const auto roi = dvsCamera->getTool(TOOL_ROI);
        const QStringList numbers = {"Roi X", "Roi Y", "Roi Width", "Roi Height"};
        edit(&panel, "Roi X")->setText(QStringLiteral("1000")); // 1000 + 1280 does not fit
        QCOMPARE(paramOf<int>(roi, "roi_x"), 0);
        for (const QString& n : numbers)
            QVERIFY2(isRed(edit(&panel, n)), qPrintable(n));
        edit(&panel, "Roi Width")->setText(QStringLiteral("200"));
        QCOMPARE(paramOf<int>(roi, "roi_width"), 200);
        for (const QString& n : numbers)
            QVERIFY2(!isRed(edit(&panel, n)), qPrintable(n));
        edit(&panel, "Roi Y")->setText(QStringLiteral("700")); // 700 + 720 rows does not fit
        for (const QString& n : numbers)
            QVERIFY(isRed(edit(&panel, n)));
        edit(&panel, "Roi X")->setText(QStringLiteral("1001"));
        QCOMPARE(paramOf<int>(roi, "roi_x"), 1001);
        for (const QString& n : numbers)
            QVERIFY(!isRed(edit(&panel, n)));
        QTest::mouseClick(switchOf(&panel, "Roi Enable"), Qt::LeftButton);
        QCOMPARE(paramOf<bool>(roi, "roi_enable"), true);
        // ROI numbers stay out of the working file; the switch goes in.
        const QJsonObject section = readJson(config->dvsCameraCurrentConfigPath)["ROI"].toObject();
        QCOMPARE(section.keys(), QStringList({"roi_enable"}));
    }

    // Load, Export and Default with their tips; after a load every row shows the camera's value.
    void configurationButtons() {
        DvsPanel unbound;
        QSignalSpy none(&unbound, qOverload<QString, NrMessageType, QString>(&SidebarDvsSettingUI::signalShowLeftBottomTips));
        unbound.loadPath = tmp.filePath("none.json");
        unbound.exportPath = tmp.filePath("none.json");
        QMetaObject::invokeMethod(&unbound, "slotLoadConfig");
        QMetaObject::invokeMethod(&unbound, "slotExportConfig");
        QCOMPARE(none.count(), 0);

        DvsPanel& panel = *dvsPanel;
        QSignalSpy tips(&panel, qOverload<QString, NrMessageType, QString>(&SidebarDvsSettingUI::signalShowLeftBottomTips));
        auto click = [&](const char* name) {
            QTest::mouseClick(panel.findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
        };
        auto lastTip = [&]() { return qMakePair(tips.last().at(0).toString(), tips.last().at(1).value<NrMessageType>()); };
        QCOMPARE(panel.findChild<QPushButton*>(QStringLiteral("import_button"))->text(), QStringLiteral("Load"));

        panel.exportPath = tmp.filePath("exported.json");
        click("export_button");
        QCOMPARE(lastTip(), qMakePair(QStringLiteral("Camera parameters exported successfully."), NrMessageSuccess));
        QCOMPARE(tips.last().at(2).toString(), QString());
        panel.exportPath = tmp.filePath("missing/folder/x.json");
        click("export_button");
        QCOMPARE(lastTip(), qMakePair(QStringLiteral("Failed to export camera parameters."), NrMessageError));
        const int shown = tips.count();
        panel.exportPath.clear(); // cancelled
        panel.loadPath.clear();
        click("export_button");
        click("import_button");
        QCOMPARE(tips.count(), shown);

        // A file changing values of several tools.
        QJsonObject doc = readJson(tmp.filePath("exported.json"));
        QVERIFY(doc.contains(QStringLiteral("Biases")));
        auto set = [&](const char* sectionName, const char* key, const QJsonValue& v) {
            QJsonObject s = doc[sectionName].toObject();
            s[key] = v;
            doc[sectionName] = s;
        };
        set("Biases", "bias_hpf", 40);
        set("AntiFlicker", "filtering_mode", "band pass");
        set("AntiFlicker", "duty_cycle", 70);
        set("ROI", "roi_enable", false);
        set("ROI", "roi_x", 10);
        set("ROI", "roi_width", 640);
        set("EventTrailFilter", "trail_filter_enable", true);
        writeJson(tmp.filePath("changed.json"), doc);
        panel.loadPath = tmp.filePath("changed.json");
        click("import_button");
        QCOMPARE(lastTip(), qMakePair(QStringLiteral("Camera parameters loaded successfully."), NrMessageSuccess));
        QCOMPARE(edit(&panel, "Bias Hpf")->text(), QStringLiteral("40"));
        QCOMPARE(edit(&panel, "Roi Width")->text(), QStringLiteral("640"));
        QCOMPARE(comboOf(&panel, "Filtering Mode")->currentText(), QStringLiteral("band pass"));
        QVERIFY(switchOf(&panel, "Trail Filter Enable")->isChecked());
        expectRowsShowCamera(&panel, *dvsCamera);

        // A damaged file: error tip, camera and rows as they were.
        QFile bad(tmp.filePath("bad.json"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{\"Biases\": {\"bias_hpf\": ");
        bad.close();
        panel.loadPath = bad.fileName();
        click("import_button");
        QCOMPARE(lastTip(), qMakePair(QStringLiteral("Failed to load camera parameters."), NrMessageError));
        QCOMPARE(edit(&panel, "Bias Hpf")->text(), QStringLiteral("40"));
        QCOMPARE(paramOf<int>(dvsCamera->getTool(TOOL_BIASES), "bias_hpf"), 40);

        // Default: the shipped file, or an error tip when it is missing.
        const QString shipped = config->dvsDefaultConfigPath;
        config->dvsDefaultConfigPath = tmp.filePath("exported.json");
        click("default_button");
        QCOMPARE(lastTip(), qMakePair(QStringLiteral("Camera parameters loaded successfully."), NrMessageSuccess));
        QCOMPARE(edit(&panel, "Bias Hpf")->text(), QStringLiteral("0"));
        QVERIFY(!switchOf(&panel, "Trail Filter Enable")->isChecked());
        expectRowsShowCamera(&panel, *dvsCamera);
        config->dvsDefaultConfigPath = tmp.filePath("absent.json");
        click("default_button");
        QCOMPARE(lastTip(), qMakePair(QStringLiteral("Camera parameters loaded failed."), NrMessageError));
        config->dvsDefaultConfigPath = shipped;
    }

    // Binding applies the working file, except to Ethernet cameras; sections are replaced, not
    // added; a panel never keeps a camera the main window let go of.
    void binding() {
        QJsonObject biases;
        biases["bias_diff_on"] = 17;
        QJsonObject doc;
        doc["Biases"] = biases;
        writeJson(config->dvsCameraCurrentConfigPath, doc);

        DvsPanel panel;
        panel.setParamManagerUI(dvsCamera);
        panel.setBiasesToolToInitUI(dvsCamera->getTool(TOOL_BIASES));
        panel.setBiasesToolToInitUI(dvsCamera->getTool(TOOL_BIASES));
        QCOMPARE(columnTitles(&panel), QStringList({"widget_config_buttons", "Biases"}));
        QCOMPARE(paramOf<int>(dvsCamera->getTool(TOOL_BIASES), "bias_diff_on"), 17);

        auto ethernet = manager.openCamera(kEthernetSerial);
        QVERIFY(ethernet);
        panel.setParamManagerUI(ethernet);
        panel.setBiasesToolToInitUI(ethernet->getTool(TOOL_BIASES));
        QCOMPARE(paramOf<int>(ethernet->getTool(TOOL_BIASES), "bias_diff_on"), 0);
        QCOMPARE(columnTitles(&panel), QStringList({"widget_config_buttons", "Biases"}));
        // Nor to the "NOrvale.320camera".
        QFile list(tmp.filePath("cameras.json"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(R"({"cameras": [{"serial": "SIM-320-0001", "product": "NOrvale.320camera"}]})");
        list.close();
        qputenv("NORVALE_SIMULATED_CAMERAS", QFile::encodeName(list.fileName()));
        auto camera320 = manager.openCamera("SIM-320-0001");
        qunsetenv("NORVALE_SIMULATED_CAMERAS");
        QVERIFY(camera320);
        panel.setParamManagerUI(camera320);
        QCOMPARE(paramOf<int>(camera320->getTool(TOOL_BIASES), "bias_diff_on"), 0);
        camera320.reset();
        panel.setParamManagerUI(ethernet);

        // The fusion camera's tools end the binding: the buttons go, the camera is free again.
        ethernet.reset();
        panel.setBiasesToolToInitUI(fusion->getTool(TOOL_BIASES));
        QCOMPARE(columnTitles(&panel), QStringList({"Biases"}));
        ethernet = manager.openCamera(kEthernetSerial);
        QVERIFY(ethernet);
        panel.setParamManagerUI(ethernet);
        ethernet.reset();
        panel.clearTools();
        QCOMPARE(columnTitles(&panel), QStringList());
        QVERIFY(manager.openCamera(kEthernetSerial));
    }

    // Each panel bound to each simulated camera, one section unfolded, in English and Chinese.
    void screenshots() {
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            if (language == QLatin1String("zh")) {
                installLanguage(language);
                dvsPanel = std::make_unique<DvsPanel>();
                fillDvsPanel(*dvsPanel, dvsCamera, true);
                // Not the defaults, in the fusion camera's working file, which binding applies.
                QJsonObject working;
                working["APS"] = QJsonObject{{"exposure", 3000}};
                working["Biases"] = QJsonObject{{"bias_fo", -7}};
                writeJson(config->fusionCameraCurrentConfigPath, working);
                buildFusionPanels();
                QCOMPARE(paramOf<int>(fusion->getTool(TOOL_BIASES), "bias_fo"), -7);
                QCOMPARE(fusionAps->findChild<QPushButton*>(QStringLiteral("import_button"))->text(),
                         QString::fromUtf8("加载"));
                // Bound, the APS panel shows the camera's values here and, relayed, in the DVS panel.
                QCOMPARE(edit(fusionAps.get(), "Exposure")->text(), QStringLiteral("3000"));
                expectRowsShowCamera(fusionDvs.get(), *fusion);
            }
            const bool en = language == QLatin1String("en");
            const QString biases = en ? QStringLiteral("Biases") : QString::fromUtf8("偏置");
            const QString antiFlicker = en ? QStringLiteral("Anti Flicker") : QString::fromUtf8("抗频闪");
            QVERIFY(section(dvsPanel.get(), biases) && section(fusionDvs.get(), antiFlicker));
            section(dvsPanel.get(), biases)->setFoldStatus(false);
            section(fusionDvs.get(), antiFlicker)->setFoldStatus(false);
            for (SettingItemBox* box : fusionAps->findChildren<SettingItemBox*>())
                box->setFoldStatus(false);
            const struct {
                QWidget* panel;
                const char* name;
                QSize size;
            } shots[] = {{dvsPanel.get(), "panel_dvs_dvscamera_", {340, 900}},
                         {fusionDvs.get(), "panel_dvs_fusioncamera_", {340, 900}},
                         {fusionAps.get(), "panel_aps_fusioncamera_", {340, 600}}};
            for (const auto& shot : shots) {
                shot.panel->resize(shot.size);
                shot.panel->show();
                QVERIFY(QTest::qWaitForWindowExposed(shot.panel));
                QVERIFY(!testenv::saveScreenshot(shot.panel, QLatin1String(shot.name) + language).isEmpty());
            }
        }
        installLanguage(QStringLiteral("en"));
    }
};

NR_QTEST_MAIN(TestSettingPanels)
#include "tst_settingpanels.moc"
