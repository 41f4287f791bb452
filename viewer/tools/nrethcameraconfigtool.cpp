#include "tools/nrethcameraconfigtool.h"

#include <QIcon>

#include <stdexcept>

#include "norvale/DvsCameraManager.h"
#include "norvale/FuncUtils.h"
#include "ui_nrethcameraconfigtool.h"
#include "widgets/nricons.h"
#include "widgets/nrstylesheet.h"
#include "widgets/nrwindowagent.h"

namespace {

// isValidIP throws on a part too long for an int; that is just another bad address here.
bool validAddress(const QString& text, uint32_t* address) {
    const std::string s = text.trimmed().toStdString();
    try {
        if (!norvale::isValidIP(s))
            return false;
        *address = norvale::stringToIP(s);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

NrEthCameraConfigTool::NrEthCameraConfigTool(QWidget* parent)
    : QDialog(parent), ui(new Ui::NrEthCameraConfigTool) {
    ui->setupUi(this);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    m_agent = new NrWindowAgent(this);
    m_agent->setup(this);
    m_agent->setTitleBar(ui->widget_title_name);
    setAttribute(Qt::WA_TranslucentBackground);
    ui->listWidget_cameras->setIconSize(QSize(24, 24));
    ui->pb_config->setEnabled(false);
    for (QLineEdit* edit : {ui->le_ip, ui->le_subnet_mask, ui->le_gateway})
        connect(edit, &QLineEdit::textEdited, this, [edit] { setStyleFlag(edit, "invalid", false); });

    connect(this, &NrEthCameraConfigTool::signalRefreshCompleted, this, &NrEthCameraConfigTool::slotRefreshCompleted);
    on_pb_refresh_clicked();
}

NrEthCameraConfigTool::~NrEthCameraConfigTool() {
    if (refreshThread.joinable())
        refreshThread.join();
    delete ui;
}

void NrEthCameraConfigTool::on_pb_win_close_clicked() {
    close();
}

void NrEthCameraConfigTool::on_pb_close_clicked() {
    close();
}

void NrEthCameraConfigTool::on_pb_refresh_clicked() {
    ui->listWidget_cameras->clear();
    ui->pb_config->setEnabled(false);
    if (refreshThread.joinable())
        refreshThread.join();
    refreshThread = std::thread([this] { search(); });
    emit signalShowLeftBottomTips(tr("Refresh completed!"), NrMessageSuccess, QString());
}

// Refresh thread.
void NrEthCameraConfigTool::search() {
    emit signalLoadingStatus(true);
    std::vector<norvale::CameraDescription> found;
    for (norvale::CameraDescription& d : norvale::DvsCameraManager().getCameraDescs())
        if (d.linkType == norvale::LINK_ETHERNET)
            found.push_back(std::move(d));
    {
        std::lock_guard<std::mutex> lock(m_foundMutex);
        m_found = std::move(found);
    }
    emit signalLoadingStatus(false);
    emit signalRefreshCompleted();
}

void NrEthCameraConfigTool::slotRefreshCompleted() {
    {
        std::lock_guard<std::mutex> lock(m_foundMutex);
        ethCameras = m_found;
    }
    // A later refresh may have cleared the list already; fill it once per completed search.
    ui->listWidget_cameras->clear();
    const QIcon icon = iconWithSelectedColour(QStringLiteral(":/img/assets/btn_camera.svg"), QSize(24, 24));
    for (const norvale::CameraDescription& d : ethCameras)
        new QListWidgetItem(icon, text(d.serial), ui->listWidget_cameras);
    ui->pb_config->setEnabled(!ethCameras.empty());
    if (!ethCameras.empty())
        ui->listWidget_cameras->setCurrentRow(0);
}

void NrEthCameraConfigTool::on_listWidget_cameras_currentRowChanged(int currentRow) {
    if (ui->listWidget_cameras->count() == 0 || currentRow < 0 || currentRow >= int(ethCameras.size()))
        return;
    const norvale::CameraDescription& d = ethCameras[size_t(currentRow)];
    ui->lb_serial->setText(text(d.serial));
    ui->lb_product->setText(text(d.product));
    ui->lb_manufacturer->setText(text(d.manufacturer));
    ui->lb_firm_ver->setText(text(d.firmwareVersion));
    ui->le_ip->setText(text(d.cameraIp));
    ui->le_subnet_mask->setText(text(d.netmask));
    ui->le_gateway->setText(text(d.gateway));
    clearInvalidMarks();
}

void NrEthCameraConfigTool::clearInvalidMarks() {
    for (QLineEdit* edit : {ui->le_ip, ui->le_subnet_mask, ui->le_gateway})
        setStyleFlag(edit, "invalid", false);
}

void NrEthCameraConfigTool::on_pb_config_clicked() {
    if (ethCameras.empty())
        return;
    const int row = ui->listWidget_cameras->currentRow();
    if (row < 0 || row >= int(ethCameras.size())) {
        emit signalShowLeftBottomTips(tr("Please select a camera first."), NrMessageWarning, QString());
        return;
    }
    uint32_t gateway = 0, mask = 0, ip = 0;
    const bool gatewayOk = validAddress(ui->le_gateway->text(), &gateway);
    const bool maskOk = validAddress(ui->le_subnet_mask->text(), &mask);
    const bool ipOk = validAddress(ui->le_ip->text(), &ip);
    setStyleFlag(ui->le_gateway, "invalid", !gatewayOk);
    setStyleFlag(ui->le_subnet_mask, "invalid", !maskOk);
    setStyleFlag(ui->le_ip, "invalid", !ipOk);
    if (!gatewayOk || !maskOk || !ipOk) {
        emit signalShowLeftBottomTips(tr("Invalid IP address, subnet mask or gateway."), NrMessageError, QString());
        return;
    }
    const norvale::CameraDescription camera = ethCameras[size_t(row)];
    if (norvale::DvsCameraManager::ethCameraForceIP(camera, ip, mask, gateway))
        emit signalShowLeftBottomTips(tr("Configuration successful!"), NrMessageSuccess, QString());
    else
        emit signalShowLeftBottomTips(tr("Configuration failed!"), NrMessageError, QString());
}
