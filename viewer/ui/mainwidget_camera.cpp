// MainWidget: the Device menu, opening a camera, the current source, recording and the status bar.
#include <QDebug>
#include <QEventLoop>
#include <QMenu>

#include <memory>
#include <vector>

#include "Utility/Utility.h"
#include "loadconfig.h"
#include "mainwidget.h"
#include "norvale/DvsCameraManager.h"
#include "processing/nreventsproccess.h"
#include "settings/sidebarcamerasettingui.h"
#include "settings/sidebardvssettingui.h"
#include "ui/cameraslist.h"
#include "ui/nrdvscamerasource.h"
#include "ui/nrsource.h"
#include "ui/workerthread.h"
#include "ui_mainwidget.h"
#include "widgets/nrthreehandleslider.h"
#include "widgets/waitingwin.h"

void MainWidget::initDeviceMenu() {
    QMenu* menu = createMenu(ui->pb_menu_device);
    QAction* open = menu->addAction(m_textOpenCamera);
    open->setObjectName(QStringLiteral("action_open_camera"));
    connect(open, &QAction::triggered, this, &MainWidget::slotOpenCamera);
    ui->pb_menu_device->show();
}

void MainWidget::setSource(NrSource* source) {
    if (ui->pb_play->isChecked())
        ui->pb_play->setChecked(false);
    ui->pb_record->setChecked(false);
    delete m_source; // stops a stream and a recording, releases a camera
    m_source = source;
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
    const norvale::CameraDescription& desc = cameras[size_t(index)];
    qDebug() << "Select camera: " << QString::fromStdString(desc.serial)
             << " product: " << QString::fromStdString(desc.product);
    if (manager.isFusionCamera(desc.serial)) { // whatever its product name
        emit signalShowLeftBottomTips(tr("Fusion cameras cannot be shown yet."), NrMessageWarning);
        return;
    }
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
    m_dvsSidebar->clearTools(); // the panel holds the camera too
    setSource(nullptr);          // releases a camera open before, so the same one can be opened again
    m_sourceType = NrSourceDvsCamera;
    if (!openDvsCamera(desc.serial))
        return;
    bindDvsSidebar();
    m_cameraSidebar->setDispItemFPSEnable(false);
    showCameraPlayingUI(true);
    ui->label_show_camera_info->setText(QString::fromStdString(desc.serial));
    if (!ui->pb_play->isChecked())
        ui->pb_play->click(); // the stream starts at once
}

bool MainWidget::openDvsCamera(const std::string& serial) {
    std::shared_ptr<norvale::DvsCamera> camera;
    WorkerThread worker([&camera, serial] { camera = norvale::DvsCameraManager().openCamera(serial); });
    QEventLoop loop;
    connect(&worker, &WorkerThread::taskCompleted, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    m_waitWin->setProgress(-1);
    m_waitWin->show();
    worker.start(QThread::InheritPriority);
    loop.exec();
    worker.wait();
    m_waitWin->close();
    if (!camera) {
        emit signalShowLeftBottomTips(tr("Open camera: ") + QString::fromStdString(serial) + QLatin1Char(' ') +
                                          tr("failed."),
                                      NrMessageError);
        return false;
    }
    auto* source = new NrDvsCameraSource(camera, m_eventProcessor, this);
    if (m_dvsBatchInterval > 0)
        source->setBatchTime(m_dvsBatchInterval);
    connect(source, &NrDvsCameraSource::signalStatus, this, [this](const QString& text) {
        m_statusParts[1] = text;
        updateStatusBarInfo();
    });
    connect(source, &NrDvsCameraSource::signalTip, this, &MainWidget::signalShowLeftBottomTips);
    connect(source, &NrDvsCameraSource::signalConnectionLost, this, [this] {
        ui->pb_play->setChecked(false);
        ui->pb_record->setChecked(false);
    });
    connect(source, &NrDvsCameraSource::signalRecording, ui->pb_record, &QPushButton::setChecked);
    setSource(source);
    return true;
}

// The camera's tools in the DVS panel's order: biases, trigger in, anti-flicker, event rate
// control, trail filter, region of interest, after the camera itself (the panel's calling order).
void MainWidget::bindDvsSidebar() {
    auto* source = qobject_cast<NrDvsCameraSource*>(m_source);
    m_dvsSidebar->clearTools();
    if (!source)
        return;
    const auto& camera = source->camera();
    m_dvsSidebar->setParamManagerUI(camera);
    m_dvsSidebar->setBiasesToolToInitUI(camera->getTool(norvale::TOOL_BIASES));
    m_dvsSidebar->setTriggerInToolUI(camera->getTool(norvale::TOOL_TRIGGER_IN));
    m_dvsSidebar->setAntiFlickerToolUI(camera->getTool(norvale::TOOL_ANTI_FLICKER));
    m_dvsSidebar->setEventRateControlToolUI(camera->getTool(norvale::TOOL_EVENT_RATE_CONTROL));
    m_dvsSidebar->setEventTrailFilterToolUI(camera->getTool(norvale::TOOL_EVENT_TRAIL_FILTER));
    m_dvsSidebar->setROIToolUI(camera->getTool(norvale::TOOL_ROI));
    ui->pb_fold_dvs_setting->show();
}

void MainWidget::on_pb_record_clicked(bool checked) {
    const bool on = m_source && m_source->record(checked);
    ui->pb_record->setChecked(on);
}

void MainWidget::on_pb_fold_dvs_setting_clicked(bool checked) {
    ui->pb_fold_setting->setChecked(false);
    ui->pb_fold_aps_setting->setChecked(false);
    m_cameraSidebar->setVisible(!checked);
    m_dvsSidebar->setVisible(checked);
    ui->frame_setting->setVisible(checked);
}

void MainWidget::updateStatusBarInfo() {
    ui->lb_status_bar->setText(m_statusParts[0] + m_statusParts[1] + m_statusParts[2] + m_statusParts[3]);
}
