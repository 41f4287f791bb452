// MainWidget: the fusion processor's wiring, opening a fusion camera, the viewer-type button and the
// APS panel.
#include <QDebug>

#include <memory>

#include "Utility/Utility.h"
#include "mainwidget.h"
#include "norvale/DvsCameraManager.h"
#include "processing/nrfusioncameradataprocessor.h"
#include "settings/sidebarapssettingui.h"
#include "settings/sidebarcamerasettingui.h"
#include "settings/sidebardvssettingui.h"
#include "ui/nrcamerasource.h"
#include "ui/nrfusioncamerasource.h"
#include "ui/nrsource.h"
#include "ui/showimageform.h"
#include "ui_mainwidget.h"
#include "widgets/nrthreehandleslider.h"

namespace {
const char* const kFirmwareNeeded = "Velfox_V1.7.2";
} // namespace

// What the fusion processor shows and reports reaches the window, and the side bars reach it; the
// play bar goes to the front of the recording shown (connectPlayBar). The processor emits on the
// GUI thread (its workers leave images and timestamps in its mailbox): direct connections.
void MainWidget::connectFusionProcessor() {
    using P = NrFusionCameraDataProcessor;
    P* p = m_fusionProcessor;
    connect(p, &P::signalStartTimeStamp, this, &MainWidget::slotSetSliderStartTime);
    connect(p, &P::signalEndTimeStamp, this, &MainWidget::slotSetSliderEndTime);
    connect(p, &P::signalFusionPixMap, m_imageView, &ShowImageForm::showPixMap);
    connect(p, &P::signalFusionImage, m_imageView, &ShowImageForm::slotShowImage);
    connect(p, &P::signalTimeStamp, this, &MainWidget::showTimeStamp);
    connect(p, &P::signalLocalTime, this, &MainWidget::showLocalTime);
    connect(p, &P::signalPlayStatus, ui->pb_play, &QPushButton::setChecked);
    connect(p, &P::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    connect(p, &P::signalDisplaySize, this, &MainWidget::signalImageReslotionChanged);
    connect(this, SIGNAL(signalSetViewerShowType(norvale::STREAM_TYPE)), p,
            SLOT(slotSetViewerType(norvale::STREAM_TYPE)));
    connect(this, &MainWidget::signalOpenFusionFile, p, &P::slotReadFusionFile);
    connect(m_cameraSidebar, &SidebarCameraSettingUI::signalCumulativeTimeChanged, p, &P::setAccTime);
    connect(m_apsSidebar, &SidebarApsSettingUI::signalManualCaliOffsetXY, p, &P::slotSetApsOffset);
    connect(m_apsSidebar, &SidebarApsSettingUI::signalApplyCaliOffset, p, &P::slotApplyOffset);
    connect(p, &P::signalShowLeftBottomTips, this,
            qOverload<QString, NrMessageType, QString>(&MainWidget::slotShowLeftBottomTips));
    // The APS panel's refresh reaches the DVS panel's rows of the fusion camera.
    connect(m_apsSidebar, SIGNAL(signalSetValue(std::string, int)), m_dvsSidebar,
            SLOT(slotParamChangedDelivery(std::string, int)));
    connect(m_apsSidebar, SIGNAL(signalSetValue(std::string, bool)), m_dvsSidebar,
            SLOT(slotParamChangedDelivery(std::string, bool)));
    connect(m_apsSidebar, SIGNAL(signalSetValue(std::string, float)), m_dvsSidebar,
            SLOT(slotParamChangedDelivery(std::string, float)));
    connect(m_apsSidebar, SIGNAL(signalSetValue(std::string, std::string)), m_dvsSidebar,
            SLOT(slotParamChangedDelivery(std::string, std::string)));
}

bool MainWidget::openFusionCamera(const std::string& serial) {
    std::shared_ptr<norvale::FusionCamera> camera;
    std::string firmware;
    norvale::CalibratorParameters calibration;
    bool haveCalibration = false;
    qDebug() << "Open fusion camera.";
    // The worker only talks to the driver; the processor and the window are set up here after.
    runBehindWaitingWindow([&] {
        camera = norvale::DvsCameraManager().openFusionCamera(serial);
        if (!camera)
            return;
        firmware = camera->getFirmwareVersion();
        haveCalibration = camera->getCalibrationParams(calibration);
    });
    if (!camera) {
        reportOpenFailed(serial);
        return false;
    }
    if (!isVersionGreaterOrEqual(QString::fromStdString(firmware), QLatin1String(kFirmwareNeeded))) {
        qDebug() << "The Velfox camera firmware needs to be upgraded!";
        emit signalShowLeftBottomTips(tr("The Velfox camera firmware needs to be upgraded!"), NrMessageWarning);
    }
    m_fusionProcessor->clearCache();
    if (haveCalibration)
        m_fusionProcessor->setCalibrationParam(calibration);
    auto* source = new NrFusionCameraSource(camera, firmware, m_fusionProcessor, this);
    connectCameraSource(source);
    setSource(source);
    emit signalImageReslotionChanged(NrFusionCameraDataProcessor::kWidth, NrFusionCameraDataProcessor::kHeight);
    return true;
}

// The APS tool, the manual calibration and the configuration buttons (the panel's calling order).
void MainWidget::setSidebarApsSettingUI() {
    auto* source = qobject_cast<NrFusionCameraSource*>(m_source);
    m_apsSidebar->clearTools();
    if (!source)
        return;
    m_apsSidebar->setApsToolToInitUI(source->tool(norvale::TOOL_APS));
    m_apsSidebar->setApsManualCalibrationToInitUI();
    m_apsSidebar->setParamManagerUI(source->camera());
    ui->pb_fold_aps_setting->show();
}

void MainWidget::on_pb_fold_aps_setting_clicked(bool checked) { showSidebar(ui->pb_fold_aps_setting, checked); }

void MainWidget::updateFusionControls() {
    const bool fusion = m_source && (m_source->kind() == NrSourceFusionCamera ||
                                     m_source->kind() == NrSourceFusionRecording);
    ui->pb_viewer_type->setVisible(fusion);
    if (!fusion)
        return;
    // The user's last choice stays; the button shows what the processor shows.
    setViewerTypeStyle(m_viewerType);
    emit signalSetViewerShowType(norvale::STREAM_TYPE(m_viewerType));
}

void MainWidget::on_pb_viewer_type_clicked() {
    m_viewerType = m_viewerType >= norvale::STREAM_FUSION ? norvale::STREAM_DVS : m_viewerType + 1;
    setViewerTypeStyle(m_viewerType);
    emit signalSetViewerShowType(norvale::STREAM_TYPE(m_viewerType));
}
