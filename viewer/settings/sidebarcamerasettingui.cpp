#include "settings/sidebarcamerasettingui.h"

#include <QVBoxLayout>

#include "settings/settingdisplayitem.h"
#include "settings/settingitembox.h"
#include "settings/settingpanellayout.h"
#include "ui_sidebarcamerasettingui.h"

SidebarCameraSettingUI::SidebarCameraSettingUI(QWidget* parent)
    : QWidget(parent), ui(new Ui::SidebarCameraSettingUI) {
    ui->setupUi(this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setAttribute(Qt::WA_StyledBackground);
    buildDisplaySection();
}

SidebarCameraSettingUI::~SidebarCameraSettingUI() {
    delete ui;
}

void SidebarCameraSettingUI::buildDisplaySection() {
    QVBoxLayout* layout = ui->verticalLayout_content;
    delete displayBox;
    displayBox = new SettingItemBox(ui->scrollAreaWidgetContents);
    displayBox->setBoxTitle(tr("Display"));
    displayItem = new SettingDisplayItem(displayBox);
    displayBox->addWidget(displayItem);
    displayBox->setFoldStatus(true);
    connect(displayItem, &SettingDisplayItem::signalCumulativeTimeChanged, this,
            &SidebarCameraSettingUI::slotCumulativeTimeChanged);
    connect(displayItem, &SettingDisplayItem::signalFpsChanged, this, &SidebarCameraSettingUI::slotFpsChanged);
    connect(displayItem, &SettingDisplayItem::signalFrameStepChanged, this,
            &SidebarCameraSettingUI::signalFrameStepChanged);
    insertBeforeStretch(layout, displayBox);
    update();
}

void SidebarCameraSettingUI::setDispItemFPSEnable(bool enable) {
    displayItem->setFPSEnable(enable);
}

uint32_t SidebarCameraSettingUI::displayRate() const {
    return displayItem->displayRate();
}

uint64_t SidebarCameraSettingUI::frameStepUs() const { return displayItem->frameStepUs(); }

void SidebarCameraSettingUI::slotCumulativeTimeChanged(uint64_t time_us) {
    emit signalCumulativeTimeChanged(time_us);
}

void SidebarCameraSettingUI::slotFpsChanged(uint32_t fps) {
    emit signalFpsChanged(fps);
}
