#include "settings/sidebardvssettingui.h"

#include <QDebug>
#include <QFile>
#include <QJsonValue>
#include <QVBoxLayout>

#include "loadconfig.h"
#include "settings/cameraconfigactions.h"
#include "settings/settingbasewithcombobox.h"
#include "settings/settingbasewithlineedit.h"
#include "settings/settingbasewithswitchbutton.h"
#include "settings/settingitembox.h"
#include "settings/settingpanellayout.h"
#include "settings/toolsection.h"
#include "ui_sidebardvssettingui.h"

using namespace norvale;

namespace {

struct SectionInfo {
    ToolType type;
    const char* title;      // translated
    const char* jsonName;   // the tool's object in the working configuration file
    const char* noTool;     // debug lines
    const char* noParams;
};

const SectionInfo kSections[] = {
    {TOOL_BIASES, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Biases"), "Biases", "Camera tool is null .",
     "camera biases is null ."},
    {TOOL_TRIGGER_IN, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Trigger In"), "TirggerIn", "camera device is null .",
     "camera trigger in is null ."},
    {TOOL_ANTI_FLICKER, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Anti Flicker"), "AntiFlicker",
     "camera device is null .", "camera anti flicker is null ."},
    {TOOL_EVENT_RATE_CONTROL, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Event Rate Control"), "EventRateControl",
     "camera device is null .", "camera event rate control is null ."},
    {TOOL_EVENT_TRAIL_FILTER, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Event Trail Filter"), "EventTrailFilter",
     "camera device is null .", "camera event trail filter is null ."},
    {TOOL_ROI, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "ROI"), "ROI", "camera device is null .",
     "camera roi is null ."},
};

QJsonValue jsonOf(int v) { return QJsonValue(v); }
QJsonValue jsonOf(bool v) { return QJsonValue(v); }
QJsonValue jsonOf(const std::string& v) { return QJsonValue(QString::fromStdString(v)); }

} // namespace

SidebarDvsSettingUI::SidebarDvsSettingUI(QWidget* parent)
    : QWidget(parent), ui(new Ui::SidebarDvsSettingUI), config(LoadConfig::getGlobalConfig()) {
    ui->setupUi(this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setAttribute(Qt::WA_StyledBackground);
    configButtons = new ConfigButtonBar(this, ui->scrollAreaWidgetContents);
}

SidebarDvsSettingUI::~SidebarDvsSettingUI() {
    delete ui;
}

void SidebarDvsSettingUI::setBiasesToolToInitUI(std::shared_ptr<CameraTool> tool) {
    buildSection(Biases, std::move(tool));
}

void SidebarDvsSettingUI::setTriggerInToolUI(std::shared_ptr<CameraTool> tool) {
    buildSection(TriggerIn, std::move(tool));
}

void SidebarDvsSettingUI::setAntiFlickerToolUI(std::shared_ptr<CameraTool> tool) {
    buildSection(AntiFlicker, std::move(tool));
}

void SidebarDvsSettingUI::setEventRateControlToolUI(std::shared_ptr<CameraTool> tool) {
    buildSection(EventRateControl, std::move(tool));
}

void SidebarDvsSettingUI::setEventTrailFilterToolUI(std::shared_ptr<CameraTool> tool) {
    buildSection(EventTrailFilter, std::move(tool));
}

void SidebarDvsSettingUI::setROIToolUI(std::shared_ptr<CameraTool> tool) {
    buildSection(Roi, std::move(tool));
}

void SidebarDvsSettingUI::buildSection(Section section, std::shared_ptr<CameraTool> tool) {
    const SectionInfo& info = kSections[section];
    SectionState& state = sections[section];
    QVBoxLayout* layout = ui->verticalLayout_content;
    deleteFromColumn(layout, state.box);
    state.box = nullptr;
    if (section == Roi)
        roiIntRows.clear();
    state.tool.reset();
    if (!tool) {
        qDebug() << info.noTool;
        return;
    }
    releaseForeignCamera(info.type, tool);
    state.tool = std::move(tool);
    state.box = buildToolSection(*state.tool, tr(info.title), rulesFor(section), ui->scrollAreaWidgetContents);
    if (!state.box) {
        qDebug() << info.noParams;
        return;
    }
    insertBeforeStretch(layout, state.box);
    update();
    if (section == Roi)
        slotRefreshConfig();
}

// The panel's rows react to its broadcast of their value type (B); the row's own changes go to
// the section's handler, if it has one.
template <class B, class Row, class T>
static Row* wire(SidebarDvsSettingUI* panel, Row* row, void (SidebarDvsSettingUI::*handler)(std::string, T)) {
    if (handler)
        QObject::connect(row, &Row::signalItemValueChanged, panel, handler);
    QObject::connect(panel, qOverload<std::string, B>(&SidebarDvsSettingUI::signalSetValue), row,
                     qOverload<std::string, B>(&Row::slotItemValueChanged));
    return row;
}

ToolSectionRules SidebarDvsSettingUI::rulesFor(Section section) {
    using Panel = SidebarDvsSettingUI;
    using IntHandler = void (Panel::*)(std::string, int);
    using BoolHandler = void (Panel::*)(std::string, bool);
    using EnumHandler = void (Panel::*)(std::string, std::string);
    ToolSectionRules rules;
    // integer rows start at the tool's default (biases: 0), boolean rows unchecked
    const auto intRows = [&](IntHandler handler, bool startAtZero) {
        rules.intRow = [this, handler, startAtZero](const std::string& name, const IntParameterInfo& info) {
            return wire<int>(this, makeIntRow(name, info, startAtZero ? 0 : info.defaultValue), handler);
        };
    };
    const auto boolRows = [&](BoolHandler handler, bool startAtDefault) {
        rules.boolRow = [this, handler, startAtDefault](const std::string& name, const BoolParameterInfo& info) {
            return wire<bool>(this, makeBoolRow(name, info.description, startAtDefault && info.defaultValue), handler);
        };
    };
    const auto enumRows = [&](EnumHandler handler) {
        rules.enumRow = [this, handler](const std::string& name, const EnumParameterInfo& info) {
            return wire<std::string>(this, makeEnumRow(name, info), handler);
        };
    };
    switch (section) {
    case Biases:
        intRows(&Panel::onBiasSliderValueChanged, true);
        break;
    case TriggerIn:
        boolRows(&Panel::onTriggerInSliderValueChanged, true);
        break;
    case AntiFlicker:
        intRows(qOverload<std::string, int>(&Panel::onAntiFlickerSliderValueChanged), false);
        boolRows(qOverload<std::string, bool>(&Panel::onAntiFlickerSliderValueChanged), false);
        rules.floatRow = [this](const std::string& name, const FloatParameterInfo& info) {
            return wire<float>(this, makeFloatRow(name, info), &Panel::onAntiFlickerSliderFloatValueChanged);
        };
        enumRows(&Panel::onAntiFlickerSliderEnumValueChanged);
        rules.boolIndex = 0; // the enable switch first
        rules.enumIndex = 1;
        break;
    case EventRateControl:
        intRows(qOverload<std::string, int>(&Panel::onEventRateControlSliderValueChanged), false);
        boolRows(qOverload<std::string, bool>(&Panel::onEventRateControlSliderValueChanged), false);
        break;
    case EventTrailFilter:
        intRows(qOverload<std::string, int>(&Panel::onEventTrailFilterSliderValueChanged), false);
        boolRows(qOverload<std::string, bool>(&Panel::onEventTrailFilterSliderValueChanged), false);
        enumRows(qOverload<std::string, std::string>(&Panel::onEventTrailFilterSliderValueChanged));
        break;
    case Roi: {
        // ROI rows start at the camera's window; its numbers are checked together by the camera.
        const std::shared_ptr<CameraTool> tool = sections[Roi].tool;
        rules.boolRow = [this, tool](const std::string& name, const BoolParameterInfo& info) {
            bool current = info.defaultValue;
            if (!tool->getParam(name, current))
                qWarning() << "ROI: cannot read" << QString::fromStdString(name);
            return wire<bool>(this, makeBoolRow(name, info.description, current),
                              qOverload<std::string, bool>(&Panel::onROISliderValueChanged));
        };
        rules.intRow = [this, tool](const std::string& name, const IntParameterInfo& info) {
            int current = info.defaultValue;
            if (!tool->getParam(name, current))
                qWarning() << "ROI: cannot read" << QString::fromStdString(name);
            auto* row = wire<int>(this, makeIntRow(name, info, current), IntHandler(nullptr));
            row->setParamOptCallback([this](std::string key, int value) { return applyRoiValue(key, value); });
            roiIntRows.push_back(row);
            return row;
        };
        break;
    }
    case SectionCount:
        break;
    }
    return rules;
}

bool SidebarDvsSettingUI::applyRoiValue(const std::string& name, int value) {
    const std::shared_ptr<CameraTool>& tool = sections[Roi].tool;
    const bool ok = tool && tool->setParam(name, value);
    for (SettingBaseWithLineEdit* row : roiIntRows)
        row->setShowStatus(ok ? CompStatusNormal : CompStatusError);
    return ok;
}

// A value the camera refuses is not written into the working file: the camera applies that file
// whole or not at all, so one refused value would cost every setting at the next start.
template <class CameraValue, class JsonValue>
void SidebarDvsSettingUI::apply(Section section, const std::string& name, CameraValue cameraValue,
                                JsonValue jsonValue) {
    const std::shared_ptr<CameraTool>& tool = sections[section].tool;
    if (!tool)
        return;
    if (!tool->setParam(name, cameraValue)) {
        qDebug() << "The camera refused" << QString::fromStdString(name) << "=" << jsonOf(jsonValue);
        return;
    }
    if (!workingFile.isEmpty())
        syncJsonFile(workingFile, QLatin1String(kSections[section].jsonName), QString::fromStdString(name),
                     jsonOf(jsonValue));
}

void SidebarDvsSettingUI::onBiasSliderValueChanged(std::string name, int value) {
    apply(Biases, name, value, value);
}

void SidebarDvsSettingUI::onTriggerInSliderValueChanged(std::string name, bool value) {
    apply(TriggerIn, name, value, value);
}

void SidebarDvsSettingUI::onAntiFlickerSliderValueChanged(std::string name, int value) {
    apply(AntiFlicker, name, value, value);
}

void SidebarDvsSettingUI::onAntiFlickerSliderValueChanged(std::string name, bool value) {
    apply(AntiFlicker, name, value, value);
}

void SidebarDvsSettingUI::onAntiFlickerSliderFloatValueChanged(std::string name, int value) {
    apply(AntiFlicker, name, float(value), value);
}

void SidebarDvsSettingUI::onAntiFlickerSliderEnumValueChanged(std::string name, std::string value) {
    apply(AntiFlicker, name, value, value);
}

void SidebarDvsSettingUI::onEventRateControlSliderValueChanged(std::string name, int value) {
    apply(EventRateControl, name, value, value);
}

void SidebarDvsSettingUI::onEventRateControlSliderValueChanged(std::string name, bool value) {
    apply(EventRateControl, name, value, value);
}

void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, int value) {
    apply(EventTrailFilter, name, value, value);
}

void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, bool en) {
    apply(EventTrailFilter, name, en, en);
}

void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, std::string value) {
    apply(EventTrailFilter, name, value, value);
}

void SidebarDvsSettingUI::onROISliderValueChanged(std::string name, int value) {
    apply(Roi, name, value, value);
}

void SidebarDvsSettingUI::onROISliderValueChanged(std::string name, bool value) {
    apply(Roi, name, value, value);
}

void SidebarDvsSettingUI::onROISliderValueChanged(std::string name, std::string value) {
    apply(Roi, name, value, value);
}

void SidebarDvsSettingUI::slotCumulativeTimeChanged(uint64_t time_us) {
    emit signalCumulativeTimeChanged(time_us);
}

void SidebarDvsSettingUI::slotFpsChanged(uint32_t fps) {
    emit signalFpsChanged(fps);
}

void SidebarDvsSettingUI::setParamManagerUI(std::shared_ptr<DvsCamera> newCamera) {
    configButtons->showIn(ui->verticalLayout_content);
    update();
    camera = std::move(newCamera);
    workingFile.clear();
    if (!camera)
        return;
    workingFile = config->dvsCameraCurrentConfigPath;
    CameraConfigActions::applyWorkingFile(*camera, workingFile);
}

void SidebarDvsSettingUI::setWorkingFile(const QString& path) {
    workingFile = path;
}

// Tools handed in that are not the bound camera's (a fusion camera opened after a DVS camera)
// end the binding: the buttons would otherwise read one camera and write the other.
void SidebarDvsSettingUI::releaseForeignCamera(ToolType type, const std::shared_ptr<CameraTool>& tool) {
    if (!camera || camera->getTool(type) == tool)
        return;
    camera.reset();
    workingFile.clear(); // that camera's file is not this camera's
    configButtons->removeFrom(ui->verticalLayout_content);
}

void SidebarDvsSettingUI::clearTools() {
    configButtons->removeFrom(ui->verticalLayout_content);
    setBiasesToolToInitUI(nullptr);
    setTriggerInToolUI(nullptr);
    setAntiFlickerToolUI(nullptr);
    setEventRateControlToolUI(nullptr);
    setEventTrailFilterToolUI(nullptr);
    setROIToolUI(nullptr);
    // A camera held here could not be opened again until released.
    camera.reset();
    workingFile.clear();
}

void SidebarDvsSettingUI::slotParamChangedDelivery(std::string name, int value) {
    emit signalSetValue(name, value);
}

void SidebarDvsSettingUI::slotParamChangedDelivery(std::string name, bool value) {
    emit signalSetValue(name, value);
}

void SidebarDvsSettingUI::slotParamChangedDelivery(std::string name, float value) {
    emit signalSetValue(name, value);
}

void SidebarDvsSettingUI::slotParamChangedDelivery(std::string name, std::string value) {
    emit signalSetValue(name, value);
}

QString SidebarDvsSettingUI::chooseConfigFile(bool forExport) {
    return forExport ? CameraConfigActions::askFileToExport(this) : CameraConfigActions::askFileToLoad(this);
}

std::function<void(const QString&, NrMessageType)> SidebarDvsSettingUI::tipSink() {
    return [this](const QString& text, NrMessageType type) { emit signalShowLeftBottomTips(text, type, QString()); };
}

void SidebarDvsSettingUI::slotExportConfig() {
    CameraConfigActions::exportTo(camera.get(), chooseConfigFile(true), tipSink());
}

void SidebarDvsSettingUI::slotLoadConfig() {
    CameraConfigActions::load(camera.get(), chooseConfigFile(false), [this] { slotRefreshConfig(); }, tipSink());
}

void SidebarDvsSettingUI::slotRefreshConfig() {
    if (camera)
        CameraConfigActions::refresh(*camera, this);
    update();
}

void SidebarDvsSettingUI::slotDefaultConfig() {
    CameraConfigActions::loadDefault(camera.get(), config->dvsDefaultConfigPath, [this] { slotRefreshConfig(); },
                                     tipSink());
}
