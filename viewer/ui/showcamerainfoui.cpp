#include "ui/showcamerainfoui.h"

#include "ui_showcamerainfoui.h"
#include "widgets/nrwindowagent.h"

ShowCameraInfoUI::ShowCameraInfoUI(QWidget* parent) : QDialog(parent), ui(new Ui::ShowCameraInfoUI) {
    ui->setupUi(this);
    m_agent = new NrWindowAgent(this);
    m_agent->setup(this);
    m_agent->setTitleBar(ui->widget_title_name);
    setAttribute(Qt::WA_TranslucentBackground);
}

ShowCameraInfoUI::~ShowCameraInfoUI() {
    delete ui;
}

void ShowCameraInfoUI::setCameraInfo(norvale::CameraDescription description, std::string firmwareVersion) {
    ui->lb_product->setText(QString::fromStdString(description.product));
    ui->lb_manufacturer->setText(QString::fromStdString(description.manufacturer));
    ui->lb_serial->setText(QString::fromStdString(description.serial));
    ui->lb_firm_ver->setText(QString::fromStdString(firmwareVersion));
}

void ShowCameraInfoUI::on_pb_close_clicked() {
    close();
}

void ShowCameraInfoUI::on_pb_win_close_clicked() {
    close();
}
