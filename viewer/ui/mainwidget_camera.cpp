// MainWidget: the Device menu, opening a camera (behind the waiting window), the window's side of
// every camera source, the camera information, recording and the status bar.
#include <QDebug>
#include <QEventLoop>
#include <QMenu>

#include <memory>
#include <vector>

#include "Utility/Utility.h"
#include "Utility/nrfilerecorder.h"
#include "loadconfig.h"
#include "mainwidget.h"
#include "norvale/DvsCameraManager.h"
#include "processing/nreventsproccess.h"
#include "settings/sidebarcamerasettingui.h"
#include "settings/sidebardvssettingui.h"
#include "ui/cameraslist.h"
#include "ui/nrcamerasource.h"
#include "ui/nrdvscamerasource.h"
#include "ui/nrnetworkstreamdialog.h"
#include "ui/nrsource.h"
#include "ui/showcamerainfoui.h"
#include "ui/workerthread.h"
#include "ui_mainwidget.h"
#include "widgets/nrthreehandleslider.h"
#include "widgets/waitingwin.h"

void MainWidget::initDeviceMenu() {
    QMenu* menu = createMenu(ui->pb_menu_device);
    QAction* open = menu->addAction(m_textOpenCamera);
    open->setObjectName(QStringLiteral("action_open_camera"));
    connect(open, &QAction::triggered, this, &MainWidget::slotOpenCamera);
    QAction* network = menu->addAction(m_textOpenNetworkStream);
    network->setObjectName(QStringLiteral("action_open_network_stream"));
    connect(network, &QAction::triggered, this, &MainWidget::slotOpenNetworkStream);
    menu->addSeparator();
    QAction* info = menu->addAction(m_textCameraInfo);
    info->setObjectName(QStringLiteral("action_camera_info"));
    connect(info, &QAction::triggered, this, &MainWidget::slotShowCameraInfo);
    ui->pb_menu_device->show();
}

void MainWidget::setSource(NrSource* source) {
    if (ui->pb_play->isChecked())
        ui->pb_play->setChecked(false);
    ui->pb_record->setChecked(false);
    m_recorder->release(); // a timed recording ends and the recorder lets go of the camera
    delete m_source; // stops a stream and a recording, removes its callbacks, releases a camera
    m_source = source;
    connectPlayBar(source ? source->playbackFront() : nullptr);
    updateFusionControls();
    const bool live = source && source->isLive();
    ui->pb_record->setVisible(live);
    if (!live) {
        m_statusParts[1].clear();
        m_statusParts[2].clear();
        updateStatusBarInfo();
    }
}

void MainWidget::slotOpenCamera() {
    if (ui->pb_play->isChecked())
        ui->pb_play->click();
    qDebug() << "Search cameras ...";
    norvale::DvsCameraManager manager;
    std::vector<norvale::CameraDescription> cameras = manager.getCameraDescs();
    qDebug() << "Search end ... find: " << cameras.size();
    CamerasList list(cameras, this);
    if (execDialog(&list) != QDialog::Accepted)
        return;
    int index = -1;
    if (!list.getSelectIndex(index) || index < 0 || index >= int(cameras.size()))
        return;
    openDescribedCamera(cameras[size_t(index)], manager.isFusionCamera(cameras[size_t(index)].serial));
}

void MainWidget::slotOpenNetworkStream() {
    NrNetworkStreamDialog dialog(this);
    if (execDialog(&dialog) != QDialog::Accepted)
        return;
    std::string why;
    const std::string serial = norvale::DvsCameraManager::addNetworkCamera(
        dialog.url().toStdString(), dialog.streamWidth(), dialog.streamHeight(), dialog.wireFormat().toStdString(), why);
    if (serial.empty()) {
        emit signalShowLeftBottomTips(tr("Open network stream: ") + QString::fromStdString(why), NrMessageError);
        return;
    }
    openCamera(QString::fromStdString(serial));
}

void MainWidget::openCamera(const QString& serial) {
    if (ui->pb_play->isChecked())
        ui->pb_play->click();
    norvale::DvsCameraManager manager;
    for (const norvale::CameraDescription& desc : manager.getCameraDescs())
        if (QString::fromStdString(desc.serial) == serial) {
            openDescribedCamera(desc, manager.isFusionCamera(desc.serial));
            return;
        }
    reportOpenFailed(serial.toStdString());
}

void MainWidget::openDescribedCamera(const norvale::CameraDescription& desc, bool fusion) {
    qDebug() << "Select camera: " << QString::fromStdString(desc.serial)
             << " product: " << QString::fromStdString(desc.product);
    if (desc.linkType == norvale::LINK_ETHERNET) {
        if (desc.cameraIp == desc.localIp) {
            emit signalShowLeftBottomTips(tr("There is a conflict between the camera ip and the local ip!"),
                                          NrMessageError);
            return;
        }
        if (!isSameSubnet(desc.cameraIp, desc.localIp, desc.netmask)) {
            emit signalShowLeftBottomTips(
                tr("The camera ip is not in the same network segment as the local ip!"), NrMessageError);
            return;
        }
    }
    // The recording goes: both processors drop it.
    emit signalOpenRawFile(QString());
    emit signalOpenFusionFile(QString());
    ui->lb_viewer_file_name->clear();
    m_saveAsAction->setVisible(false);
    m_cutAction->setVisible(false);
    m_slider->clearTags();
    m_slider->setRateProfile({}, 0, 0);
    resetSidebars();
    setSource(nullptr); // releases a camera open before, so the same one can be opened again
    if (!(fusion ? openFusionCamera(desc.serial) : openDvsCamera(desc.serial)))
        return;
    setSidebarDvsSettingUI();
    setSidebarApsSettingUI();
    m_cameraSidebar->setDispItemFPSEnable(false);
    showCameraPlayingUI(true);
    ui->label_show_camera_info->setText(QString::fromStdString(desc.serial));
    if (!ui->pb_play->isChecked())
        ui->pb_play->click(); // the stream starts at once
}

bool MainWidget::openDvsCamera(const std::string& serial) {
    std::shared_ptr<norvale::DvsCamera> camera;
    runBehindWaitingWindow([&camera, serial] { camera = norvale::DvsCameraManager().openCamera(serial); });
    if (!camera) {
        reportOpenFailed(serial);
        return false;
    }
    auto* source = new NrDvsCameraSource(camera, m_eventProcessor, this);
    if (m_dvsBatchInterval > 0)
        source->setBatchTime(m_dvsBatchInterval);
    connectCameraSource(source);
    connect(source, &NrDvsCameraSource::signalRecByTime, this, &MainWidget::signalRecByTime);
    setSource(source);
    emit signalImageReslotionChanged(source->camera()->getWidth(), source->camera()->getHeight());
    initDvsCameraSettings();
    return true;
}

// The camera's tools in the DVS panel's order: biases, trigger in, anti-flicker, event rate
// control, trail filter, region of interest, after the camera itself (the panel's calling order).
// A fusion camera's tools are shown too, but the panel binds DVS cameras only: the APS panel's
// configuration buttons serve a fusion camera.
void MainWidget::setSidebarDvsSettingUI() {
    auto* source = qobject_cast<NrCameraSource*>(m_source);
    m_dvsSidebar->clearTools();
    if (!source)
        return;
    if (auto* dvs = qobject_cast<NrDvsCameraSource*>(source))
        m_dvsSidebar->setParamManagerUI(dvs->camera());
    m_dvsSidebar->setBiasesToolToInitUI(source->tool(norvale::TOOL_BIASES));
    m_dvsSidebar->setTriggerInToolUI(source->tool(norvale::TOOL_TRIGGER_IN));
    m_dvsSidebar->setAntiFlickerToolUI(source->tool(norvale::TOOL_ANTI_FLICKER));
    m_dvsSidebar->setEventRateControlToolUI(source->tool(norvale::TOOL_EVENT_RATE_CONTROL));
    m_dvsSidebar->setEventTrailFilterToolUI(source->tool(norvale::TOOL_EVENT_TRAIL_FILTER));
    m_dvsSidebar->setROIToolUI(source->tool(norvale::TOOL_ROI));
    if (source->kind() == NrSourceFusionCamera)
        m_dvsSidebar->setWorkingFile(m_config->fusionCameraCurrentConfigPath);
    ui->pb_fold_dvs_setting->show();
}

void MainWidget::on_pb_record_clicked(bool checked) {
    const bool on = m_source && m_source->record(checked);
    ui->pb_record->setChecked(on);
}

void MainWidget::on_pb_fold_dvs_setting_clicked(bool checked) { showSidebar(ui->pb_fold_dvs_setting, checked); }

void MainWidget::updateStatusBarInfo() {
    ui->lb_status_bar->setText(m_statusParts[0] + m_statusParts[1] + m_statusParts[2] + m_statusParts[3]);
}

void MainWidget::runBehindWaitingWindow(const std::function<void()>& task) {
    WorkerThread worker(task);
    QEventLoop loop;
    connect(&worker, &WorkerThread::taskCompleted, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    m_waitWin->setProgress(-1);
    m_waitWin->show();
    worker.start(QThread::InheritPriority);
    loop.exec();
    worker.wait();
    m_waitWin->close();
}

void MainWidget::reportOpenFailed(const std::string& serial) {
    // A network camera fails to open when another program listens on its port.
    const QString why = serial.rfind("UDP-", 0) == 0 ? tr(" Is another program listening on that port?") : QString();
    emit signalShowLeftBottomTips(tr("Open camera: ") + QString::fromStdString(serial) + QLatin1Char(' ') +
                                      tr("failed.") + why,
                                  NrMessageError);
}

void MainWidget::connectCameraSource(NrCameraSource* source) {
    connect(source, &NrCameraSource::signalStatus, this, [this](const QString& text) {
        m_statusParts[1] = text;
        updateStatusBarInfo();
    });
    connect(source, &NrCameraSource::signalTip, this, &MainWidget::signalShowLeftBottomTips);
    connect(source, &NrCameraSource::signalConnectionLost, this, [this] {
        ui->pb_play->setChecked(false);
        ui->pb_record->setChecked(false);
    });
    connect(source, &NrCameraSource::signalRecording, ui->pb_record, &QPushButton::setChecked);
}

void MainWidget::slotShowCameraInfo() {
    auto* camera = qobject_cast<NrCameraSource*>(m_source);
    if (!camera) {
        emit signalShowLeftBottomTips(tr("Please connect camera first."), NrMessageWarning);
        return;
    }
    ShowCameraInfoUI dialog(this);
    dialog.setCameraInfo(camera->description(), camera->firmwareVersion());
    execDialog(&dialog);
}
