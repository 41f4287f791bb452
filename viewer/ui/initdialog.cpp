#include "initdialog.h"

#include <QDebug>
#include <QGraphicsDropShadowEffect>
#include <QTimer>

#include "startup.h"
#include "ui_initdialog.h"

InitDialog::InitDialog(QWidget* parent) : QDialog(parent), ui(new Ui::InitDialog), m_closeTimer(new QTimer(this)) {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setContentsMargins(10, 10, 10, 10);
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor(QStringLiteral("#444444")));
    shadow->setBlurRadius(30);
    ui->frame_init->setGraphicsEffect(shadow);

    qDebug() << "NorvaleCamView Version: " << kViewerVersion;
    ui->lb_version->setText(tr("Version: ") + QLatin1String(kViewerVersion));

    m_closeTimer->setSingleShot(true);
    connect(m_closeTimer, &QTimer::timeout, this, &QDialog::close);
    m_closeTimer->start(kShowMs);
}

InitDialog::~InitDialog() { delete ui; }

void InitDialog::on_btn_close_clicked() { close(); }
