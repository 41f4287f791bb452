#include "widgets/waitingwin.h"

#include <QDebug>
#include <QLabel>
#include <QMovie>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

WaitingWin::WaitingWin(QWidget* parent)
    : QDialog(parent), label_waiting(new QLabel(this)), m_progress(new QLabel(this)), m_parent(parent) {
    setObjectName(QStringLiteral("WaitingWin"));
    resize(321, 276);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral("background: transparent;"));

    label_waiting->setObjectName(QStringLiteral("label_waiting"));
    label_waiting->setFixedSize(150, 150);
    label_waiting->setScaledContents(true);
    m_progress->setObjectName(QStringLiteral("lb_progress"));
    m_progress->setAlignment(Qt::AlignCenter);
    m_progress->setFixedSize(96, 30);
    m_progress->setStyleSheet(QStringLiteral(
        "#lb_progress { background: #FFFFFF; color: #004B6A; border: 1px solid #D7E7EE; border-radius: 15px;"
        " font: 16px \"Noto Sans SC Medium\"; }"));
    m_progress->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->addStretch();
    layout->addWidget(label_waiting, 0, Qt::AlignHCenter);
    layout->addWidget(m_progress, 0, Qt::AlignHCenter);
    layout->addStretch();

    m_movie = new QMovie(QStringLiteral(":/img/icon/waiting.gif"), QByteArray(), this);
}

void WaitingWin::setProgress(double fraction) {
    if (!(fraction >= 0.0)) { // negative or NaN: no progress known
        m_progress->hide();
        return;
    }
    const int percent = static_cast<int>(std::floor(std::min(fraction, 1.0) * 100.0));
    m_progress->setText(QString::number(percent) + QLatin1Char('%'));
    m_progress->show();
}

void WaitingWin::updatePos() {
    if (isVisible())
        centreOverParent();
}

void WaitingWin::centreOverParent() {
    if (!m_parent)
        return;
    const QPoint origin = m_parent->mapToGlobal(QPoint(0, 0));
    move(origin.x() + (m_parent->width() - width()) / 2, origin.y() + (m_parent->height() - height()) / 2);
}

void WaitingWin::showEvent(QShowEvent* event) {
    centreOverParent();
    if (!m_movie->isValid()) {
        qDebug() << "GIF is not valid or not found";
    } else {
        label_waiting->setMovie(m_movie);
        m_movie->start();
    }
    QDialog::showEvent(event);
}

void WaitingWin::closeEvent(QCloseEvent* event) {
    m_movie->stop();
    QDialog::closeEvent(event);
}
