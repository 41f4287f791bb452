#include "settings/sidebarapssettingui.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QJsonValue>
#include <QPushButton>
#include <QVBoxLayout>

#include "loadconfig.h"
#include "settings/cameraconfigactions.h"
#include "settings/settingbasewithlineedit.h"
#include "settings/settingbasewithswitchbutton.h"
#include "settings/settingitembox.h"
#include "settings/settingpanellayout.h"
#include "settings/toolsection.h"
#include "ui_sidebarapssettingui.h"

using namespace norvale;

SidebarApsSettingUI::SidebarApsSettingUI(QWidget* parent)
    : QWidget(parent), ui(new Ui::SidebarApsSettingUI), config(LoadConfig::getGlobalConfig()) {
    ui->setupUi(this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setAttribute(Qt::WA_StyledBackground);
    configButtons = new ConfigButtonBar(this, ui->scrollAreaWidgetContents);
}

SidebarApsSettingUI::~SidebarApsSettingUI() {
    delete ui;
}

void SidebarApsSettingUI::replaceBox(SettingItemBox*& box, SettingItemBox* replacement) {
    deleteFromColumn(ui->verticalLayout_content, box);
    box = replacement;
    if (box)
        insertBeforeStretch(ui->verticalLayout_content, box);
    update();
}

void SidebarApsSettingUI::setApsToolToInitUI(std::shared_ptr<CameraTool> tool) {
    replaceBox(apsBox, nullptr);
    apsTool = std::move(tool);
    if (!apsTool) {
        qDebug() << "camera device is null .";
        return;
    }
    // The rows also follow this panel's broadcast, so that Refresh and Load show the camera's values.
    using Panel = SidebarApsSettingUI;
    ToolSectionRules rules;
    rules.intRow = [this](const std::string& name, const IntParameterInfo& info) {
        auto* row = makeIntRow(name, info, info.defaultValue);
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this, &Panel::onApsSliderValueChanged);
        connect(this, qOverload<std::string, int>(&Panel::signalSetValue), row,
                qOverload<std::string, int>(&SettingBaseWithLineEdit::slotItemValueChanged));
        return row;
    };
    rules.floatRow = [this](const std::string& name, const FloatParameterInfo& info) {
        auto* row = makeFloatRow(name, info);
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this, &Panel::onApsSliderFloatValueChanged);
        connect(this, qOverload<std::string, float>(&Panel::signalSetValue), row,
                qOverload<std::string, float>(&SettingBaseWithLineEdit::slotItemValueChanged));
        return row;
    };
    rules.boolRow = [this](const std::string& name, const BoolParameterInfo& info) {
        auto* row = makeBoolRow(name, info.description, info.defaultValue);
        connect(row, &SettingBaseWithSwitchButton::signalItemValueChanged, this, &Panel::onApsBoolValueChanged);
        connect(this, qOverload<std::string, bool>(&Panel::signalSetValue), row,
                &SettingBaseWithSwitchButton::slotItemValueChanged);
        return row;
    };
    SettingItemBox* box = buildToolSection(*apsTool, QStringLiteral("APS"), rules, ui->scrollAreaWidgetContents);
    if (!box) {
        qDebug() << "camera aps infos is null .";
        return;
    }
    replaceBox(apsBox, box);
}

// Like the DVS rows, a value the camera took is kept in the fusion camera's working file, so the
// next fusion camera starts with it; a refused one is not written.
template <class T>
void SidebarApsSettingUI::apply(const std::string& name, T value) {
    if (!apsTool || !apsTool->setParam(name, value))
        return;
    if (camera)
        syncJsonFile(config->fusionCameraCurrentConfigPath, QStringLiteral("APS"), QString::fromStdString(name),
                     QJsonValue(value));
}

void SidebarApsSettingUI::onApsBoolValueChanged(std::string name, bool value) {
    apply(name, value);
}

void SidebarApsSettingUI::onApsSliderValueChanged(std::string name, int value) {
    apply(name, value);
}

void SidebarApsSettingUI::onApsSliderFloatValueChanged(std::string name, int value) {
    apply(name, float(value));
}

QWidget* SidebarApsSettingUI::makeOffsetRow(const char* name, const QString& tip, double& offset) {
    auto* row = new SettingBaseWithLineEdit(name);
    row->setToolTip(tip);
    row->setSliderBarValueRange(-100, 100);
    row->setCurrentValue(int(offset));
    connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this, [this, &offset](std::string, int value) {
        offset = value;
        emit signalManualCaliOffsetXY(offsetX, offsetY);
    });
    return row;
}

void SidebarApsSettingUI::setApsManualCalibrationToInitUI() {
    auto* box = new SettingItemBox(ui->scrollAreaWidgetContents);
    box->setBoxTitle(tr("APS Manual Calibration"));
    box->addWidget(makeOffsetRow("offset_x", tr("Set aps offset x."), offsetX));
    box->addWidget(makeOffsetRow("offset_y", tr("Set aps offset y."), offsetY));

    auto* applyRow = new QWidget;
    auto* applyLayout = new QHBoxLayout(applyRow);
    applyLayout->setContentsMargins(12, 4, 12, 4);
    applyLayout->addStretch(1);
    auto* apply = new QPushButton(tr("Apply"), applyRow);
    apply->setObjectName(QStringLiteral("pb_apply"));
    apply->setFixedSize(60, 20);
    apply->setCursor(Qt::PointingHandCursor);
    apply->setStyleSheet(QStringLiteral("QPushButton { color: #FFFFFF; background: #004B6A; border-radius: 10px;"
                                        " font: 12px \"Noto Sans SC Medium\"; }"
                                        "QPushButton:pressed { background: #00384F; }"));
    applyLayout->addWidget(apply);
    connect(apply, &QPushButton::clicked, this, [this, box] {
        emit signalApplyCaliOffset();
        // The shift now lies in the calibration: the rows start again from no shift, or the
        // next change and the next Apply would add it a second time.
        offsetX = offsetY = 0;
        for (auto* row : box->findChildren<SettingBaseWithLineEdit*>()) {
            const QSignalBlocker quiet(row);
            row->setCurrentValue(0);
        }
    });
    box->addWidget(applyRow);
    box->setFoldStatus(true);
    replaceBox(calibrationBox, box);
}

void SidebarApsSettingUI::setParamManagerUI(std::shared_ptr<FusionCamera> newCamera) {
    configButtons->showIn(ui->verticalLayout_content);
    update();
    camera = std::move(newCamera);
    if (camera)
        CameraConfigActions::applyWorkingFile(*camera, config->fusionCameraCurrentConfigPath);
    // The rows were built with the tools' defaults; show what this camera really holds.
    slotRefreshConfig();
}

void SidebarApsSettingUI::clearTools() {
    configButtons->removeFrom(ui->verticalLayout_content);
    setApsToolToInitUI(nullptr);
    camera.reset();
}

QString SidebarApsSettingUI::chooseConfigFile(bool forExport) {
    return forExport ? CameraConfigActions::askFileToExport(this) : CameraConfigActions::askFileToLoad(this);
}

std::function<void(const QString&, NrMessageType)> SidebarApsSettingUI::tipSink() {
    return [this](const QString& text, NrMessageType type) { emit signalShowLeftBottomTips(text, type, QString()); };
}

void SidebarApsSettingUI::slotExportConfig() {
    CameraConfigActions::exportTo(camera.get(), chooseConfigFile(true), tipSink());
}

void SidebarApsSettingUI::slotLoadConfig() {
    CameraConfigActions::load(camera.get(), chooseConfigFile(false), [this] { slotRefreshConfig(); }, tipSink());
}

void SidebarApsSettingUI::slotRefreshConfig() {
    if (camera)
        CameraConfigActions::refresh(*camera, this);
    update();
}

void SidebarApsSettingUI::slotDefaultConfig() {
    CameraConfigActions::loadDefault(camera.get(), config->fusionDefaultConfigPath, [this] { slotRefreshConfig(); },
                                     tipSink());
}
