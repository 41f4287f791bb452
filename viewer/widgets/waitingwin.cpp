#include "widgets/waitingwin.h"

#include <QDebug>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMovie>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <QX11Info>

#include <algorithm>
#include <cmath>

#include "widgets/nrcentre.h"

namespace {
constexpr int kCardMargin = 18;
constexpr int kCardRadius = 12;
} // namespace

WaitingWin::Shape WaitingWin::platformShape() {
    if (QGuiApplication::platformName() == QLatin1String("xcb") && !QX11Info::isCompositingManagerRunning())
        return Shape::MaskedCard;
    return Shape::Translucent;
}

WaitingWin::WaitingWin(QWidget* parent) : WaitingWin(parent, platformShape()) {}

WaitingWin::WaitingWin(QWidget* parent, Shape shape)
    : QDialog(parent), label_waiting(new QLabel(this)), m_progress(new QLabel(this)),
      m_cancel(new QPushButton(tr("Cancel"), this)), m_parent(parent), m_shape(shape) {
    setObjectName(QStringLiteral("WaitingWin"));
    resize(321, 276);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    if (m_shape == Shape::Translucent)
        setAttribute(Qt::WA_TranslucentBackground);
    // The parent's style sheet must not paint behind the animation.
    setStyleSheet(QStringLiteral("#WaitingWin, #label_waiting { background: transparent; }"));

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
    m_cancel->setObjectName(QStringLiteral("pb_cancel"));
    m_cancel->setFixedSize(110, 34);
    m_cancel->setCursor(Qt::PointingHandCursor);
    m_cancel->setFocusPolicy(Qt::NoFocus);
    m_cancel->setStyleSheet(QStringLiteral(
        "#pb_cancel { background: #FFFFFF; color: #004B6A; border: 2px solid #004B6A; border-radius: 17px;"
        " font: 14px \"Noto Sans SC Medium\"; }"
        "#pb_cancel:hover { background: #EDF1F3; }"
        "#pb_cancel:disabled { color: #8A8F94; border-color: #C3C3C3; }"));
    m_cancel->hide();
    connect(m_cancel, &QPushButton::clicked, this, &WaitingWin::onCancelClicked);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->addStretch();
    layout->addWidget(label_waiting, 0, Qt::AlignHCenter);
    layout->addWidget(m_progress, 0, Qt::AlignHCenter);
    layout->addWidget(m_cancel, 0, Qt::AlignHCenter);
    layout->addStretch();

    m_movie = new QMovie(QStringLiteral(":/img/icon/waiting.gif"), QByteArray(), this);
}

void WaitingWin::setProgress(double fraction) {
    if (!(fraction >= 0.0)) { // negative or NaN: no progress known
        m_progress->hide();
    } else {
        const int percent = static_cast<int>(std::floor(std::min(fraction, 1.0) * 100.0));
        m_progress->setText(QString::number(percent) + QLatin1Char('%'));
        m_progress->show();
    }
    updateShape();
}

void WaitingWin::setCancellable(bool cancellable) {
    m_cancel->setText(tr("Cancel"));
    m_cancel->setEnabled(true);
    m_cancel->setVisible(cancellable);
    updateShape();
}

void WaitingWin::onCancelClicked() {
    // Stopping takes a moment; one request is enough.
    m_cancel->setEnabled(false);
    m_cancel->setText(tr("Cancelling..."));
    emit signalCancelRequested();
}

void WaitingWin::updatePos() {
    if (isVisible())
        centreOverParent();
}

void WaitingWin::centreOverParent() {
    centreOverWidget(this, m_parent);
}

QRect WaitingWin::cardRect() const {
    QRect r = label_waiting->geometry();
    for (const QWidget* w : {static_cast<const QWidget*>(m_progress), static_cast<const QWidget*>(m_cancel)})
        if (!w->isHidden())
            r |= w->geometry();
    return r.adjusted(-kCardMargin, -kCardMargin, kCardMargin, kCardMargin).intersected(rect());
}

void WaitingWin::updateShape() {
    if (m_shape != Shape::MaskedCard)
        return;
    if (QLayout* l = layout())
        l->activate(); // child geometry must be current before the card is measured
    QPainterPath path;
    path.addRoundedRect(QRectF(cardRect()), kCardRadius, kCardRadius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
    update();
}

void WaitingWin::paintEvent(QPaintEvent* event) {
    if (m_shape == Shape::MaskedCard) {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0xD7, 0xE7, 0xEE), 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(cardRect()).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius, kCardRadius);
    }
    QDialog::paintEvent(event);
}

void WaitingWin::keyPressEvent(QKeyEvent* event) {
    // Escape would reject the dialog while the work goes on; it means Cancel where Cancel is offered.
    if (event->key() == Qt::Key_Escape) {
        if (m_cancel->isVisible() && m_cancel->isEnabled())
            onCancelClicked();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
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
    updateShape();
}

void WaitingWin::closeEvent(QCloseEvent* event) {
    m_movie->stop();
    QDialog::closeEvent(event);
}
