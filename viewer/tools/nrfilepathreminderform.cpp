#include "tools/nrfilepathreminderform.h"

#include <QDebug>
#include <QDesktopServices>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include "ui_nrfilepathreminderform.h"

NrFilePathReminderForm::NrFilePathReminderForm(const QString& tips, NrMessageType type, const QString& dir,
                                               QWidget* parent)
    : QWidget(parent), ui(new Ui::NrFilePathReminderForm), dirPath(dir) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    ui->lb_show_tips->setText(tips);
    if (dir.isEmpty())
        ui->pb_open_dir->hide();

    struct Look {
        QString title, icon, background, frame;
    };
    Look look;
    switch (type) {
    case NrMessageWarning:
        look = {tr("Warning"), QStringLiteral(":/img/assets/icon_toasts_warning.svg"), QStringLiteral("#FEFBF4"),
                QStringLiteral("#F9BF37")};
        break;
    case NrMessageError:
        look = {tr("Error"), QStringLiteral(":/img/assets/icon_toasts_error.svg"), QStringLiteral("#FFF6F6"),
                QStringLiteral("#FF6058")};
        break;
    default: // success: the form's own look
        break;
    }
    if (!look.title.isEmpty()) {
        ui->lb_title->setText(look.title);
        ui->pb_logo->setStyleSheet(QStringLiteral("image: url(%1);").arg(look.icon));
        ui->widget_item->setStyleSheet(QStringLiteral("#widget_item { background: %1; border: 1px solid %2; "
                                                      "border-radius: 3px; }")
                                           .arg(look.background, look.frame));
        // Inside a styled main window the frame keeps the look it was first polished with
        // unless it is polished again.
        ui->widget_item->style()->unpolish(ui->widget_item);
        ui->widget_item->style()->polish(ui->widget_item);
        ui->lb_title->setStyleSheet(QStringLiteral("color: %1;").arg(look.frame));
    }
    QTimer::singleShot(kLifetimeMs, this, &NrFilePathReminderForm::onTimeupDestroy);
}

NrFilePathReminderForm::~NrFilePathReminderForm() {
    delete ui;
}

void NrFilePathReminderForm::onTimeupDestroy() {
    delete this;
}

void NrFilePathReminderForm::on_pb_open_dir_clicked() {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(dirPath)))
        qDebug() << "Failed to open directory.";
}

void NrFilePathReminderForm::on_pb_close_clicked() {
    close();
}
