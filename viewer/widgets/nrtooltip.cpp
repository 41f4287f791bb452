#include "widgets/nrtooltip.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimerEvent>

#include <cstdlib>

NrToolTip::NrToolTip(const QString& text, NrToolTipPos position, QWidget* parent)
    : QDialog(parent), m_label(new QLabel(text, this)), m_position(position) {
    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setStyleSheet(QStringLiteral(
        "QLabel { font: 10px \"Noto Sans SC Medium\"; color: #646464; background: #FFFFFF;"
        " border: 1px solid #A7A7A7; border-radius: 5px; padding: 0px 10px; }"));
    setMinimumWidth(100);
    setFixedHeight(20);
    hide();
}

void NrToolTip::anchorTarget(QWidget* target) {
    if (m_target)
        m_target->removeEventFilter(this);
    m_target = target;
    if (target)
        target->installEventFilter(this);
}

void NrToolTip::showTip(const QWidget* target) {
    if (!target)
        return;
    adjustSize();
    const QPoint topLeft = target->mapToGlobal(QPoint(0, 0));
    const int y = topLeft.y() - (height() + 1);
    int x;
    if (m_position == 0)
        x = topLeft.x() - std::abs(target->width() - width()) / 2;
    else if (m_position == 2)
        x = topLeft.x() - width();
    else
        return;
    showTip(QPoint(x + m_xOffset, y + m_yOffset));
}

void NrToolTip::showTip(const QPoint& point) {
    move(point);
    if (!m_showTimer.isActive())
        m_showTimer.start(m_showMs, this);
}

void NrToolTip::hideTip() {
    m_showTimer.stop();
    m_hideTimer.stop();
    m_hideTimer.start(m_leaveMs, this);
}

void NrToolTip::setXOffset(int offset) {
    if (offset == m_xOffset)
        return;
    m_xOffset = offset;
    emit xOffsetChanged();
}

void NrToolTip::setYOffset(int offset) {
    if (offset == m_yOffset)
        return;
    m_yOffset = offset;
    emit yOffsetChanged();
}

QString NrToolTip::text() const {
    return m_label->text();
}

void NrToolTip::setText(const QString& text) {
    if (text == m_label->text())
        return;
    m_label->setText(text);
    emit textChanged();
}

Qt::Alignment NrToolTip::alignment() const {
    return m_label->alignment();
}

void NrToolTip::setAlignment(Qt::Alignment alignment) {
    if (alignment == m_label->alignment())
        return;
    m_label->setAlignment(alignment);
    emit alignmentChanged();
}

void NrToolTip::setDelays(int showMs, int stayMs, int leaveMs) {
    m_showMs = showMs;
    m_stayMs = stayMs;
    m_leaveMs = leaveMs;
}

bool NrToolTip::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_target) {
        if (event->type() == QEvent::Enter)
            showTip(m_target.data());
        else if (event->type() == QEvent::Leave)
            hideTip();
    }
    return QDialog::eventFilter(watched, event);
}

void NrToolTip::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_showTimer.timerId()) {
        m_showTimer.stop();
        if (isHidden()) {
            show();
            if (!m_hideTimer.isActive())
                m_hideTimer.start(m_stayMs, this);
        }
    } else if (event->timerId() == m_hideTimer.timerId()) {
        m_showTimer.stop();
        m_hideTimer.stop();
        if (isVisible())
            hide();
    } else {
        QDialog::timerEvent(event);
    }
}
