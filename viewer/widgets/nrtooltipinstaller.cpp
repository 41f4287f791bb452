#include "widgets/nrtooltipinstaller.h"

#include <QEvent>
#include <QWidget>

#include "widgets/nrtooltip.h"

NrToolTipInstaller* NrToolTipInstaller::attach(QWidget* widget, const QString& text) {
    if (!widget)
        return nullptr;
    delete of(widget);
    if (!text.isEmpty())
        widget->setToolTip(text);
    return new NrToolTipInstaller(widget);
}

NrToolTipInstaller* NrToolTipInstaller::of(const QWidget* widget) {
    return widget ? widget->findChild<NrToolTipInstaller*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

NrToolTipInstaller::NrToolTipInstaller(QWidget* widget) : QObject(widget), m_widget(widget) {
    // Parented to the widget's window so the tip stays with it; a tool-tip window of its own.
    m_tip = new NrToolTip(widget->toolTip(), 0, widget);
    m_tip->setObjectName(widget->objectName() + QStringLiteral("_tip"));
    widget->installEventFilter(this);
}

NrToolTipInstaller::~NrToolTipInstaller() {
    m_widget->removeEventFilter(this);
    delete m_tip.data();
}

bool NrToolTipInstaller::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_widget || !m_tip)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ToolTip:
        return true; // the native tip is replaced, never shown
    case QEvent::ToolTipChange:
        m_tip->setText(m_widget->toolTip());
        break;
    case QEvent::Enter:
        if (!m_widget->toolTip().isEmpty())
            m_tip->showTip(m_widget);
        break;
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
    case QEvent::Hide:
        m_tip->hideTip();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
