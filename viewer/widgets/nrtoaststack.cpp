#include "widgets/nrtoaststack.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>

#include "tools/nrfilepathreminderform.h"

NrToastStack::NrToastStack(QWidget* window, QWidget* area) : QObject(window), m_window(window), m_area(area) {
    m_window->installEventFilter(this);
    if (area && area != window)
        area->installEventFilter(this);
}

NrToastStack* NrToastStack::of(QWidget* window, QWidget* area) {
    if (auto* stack = window->findChild<NrToastStack*>(QString(), Qt::FindDirectChildrenOnly))
        return stack;
    return new NrToastStack(window, area);
}

NrFilePathReminderForm* NrToastStack::show(const QString& tips, NrMessageType type, const QString& dirPath) {
    auto* toast = new NrFilePathReminderForm(tips, type, dirPath, m_window);
    toast->installEventFilter(this); // closed by its button: the others close up
    connect(toast, &QObject::destroyed, this, &NrToastStack::relayoutLater);
    m_toasts << toast;
    relayout();
    toast->show();
    toast->raise();
    return toast;
}

QList<NrFilePathReminderForm*> NrToastStack::shown() const {
    QList<NrFilePathReminderForm*> out;
    for (const auto& t : m_toasts)
        if (t && t->isVisible())
            out << t.data();
    return out;
}

bool NrToastStack::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == m_window || watched == m_area) {
        if (type == QEvent::Resize || type == QEvent::Move || type == QEvent::Show)
            relayoutLater();
    } else if (type == QEvent::Hide) {
        relayoutLater();
    }
    return QObject::eventFilter(watched, event);
}

void NrToastStack::relayoutLater() {
    if (m_relayoutPending)
        return;
    m_relayoutPending = true;
    QTimer::singleShot(0, this, [this] {
        m_relayoutPending = false;
        relayout();
    });
}

void NrToastStack::relayout() {
    // Gone or closed by the user: out of the stack (a closed one deletes itself in its time).
    m_toasts.erase(std::remove_if(m_toasts.begin(), m_toasts.end(),
                                  [](const QPointer<NrFilePathReminderForm>& t) {
                                      return !t || (t->isHidden() && t->testAttribute(Qt::WA_WState_ExplicitShowHide));
                                  }),
                   m_toasts.end());
    QRect area = m_window->rect();
    if (m_area && m_area != m_window && m_area->isVisible())
        area = QRect(m_area->mapTo(m_window, QPoint(0, 0)), m_area->size());
    const QRect room = area.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    int bottom = room.bottom() + 1;
    int kept = 0;
    for (int i = m_toasts.size() - 1; i >= 0; --i) {
        NrFilePathReminderForm* toast = m_toasts[i];
        const int top = bottom - toast->height();
        // The newest always shows; an older one only while it fits beside the newer ones.
        if (kept > 0 && (kept >= kMaxShown || top < room.top())) {
            for (int j = 0; j <= i; ++j) {
                m_toasts[j]->hide();
                m_toasts[j]->deleteLater();
            }
            m_toasts.erase(m_toasts.begin(), m_toasts.begin() + i + 1);
            break;
        }
        toast->move(room.left(), top);
        toast->raise();
        bottom = top - kSpacing;
        ++kept;
    }
}
