#include "widgets/nrmessagebox.h"

#include "ui_nrmessagebox.h"
#include "widgets/nrwindowagent.h"

NRMessageBox::NRMessageBox(const QString& message, const QString& title, const QString& acceptText,
                           const QString& rejectText, QDialog* parent)
    : QDialog(parent), ui(new Ui::NRMessageBox) {
    ui->setupUi(this);
    ui->lb_title->setText(title);
    ui->lb_show_message->setText(message);
    ui->pb_open->setText(acceptText);
    ui->pb_close->setText(rejectText);
    m_agent = new NrWindowAgent(this);
    m_agent->setup(this);
    m_agent->setTitleBar(ui->widget_title_name);
    setAttribute(Qt::WA_TranslucentBackground);
}

NRMessageBox::~NRMessageBox() {
    delete ui;
}

void NRMessageBox::on_pb_open_clicked() {
    accept();
}

void NRMessageBox::on_pb_close_clicked() {
    reject();
}

void NRMessageBox::on_pb_win_close_clicked() {
    close();
}
