#include "nrwindowagent.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

NrWindowAgent::NrWindowAgent(QWidget* window) : QObject(window) {}

bool NrWindowAgent::setup(QWidget* window) {
    if (window == nullptr || m_window != nullptr)
        return false;
    m_window = window;
    m_window->setWindowFlag(Qt::FramelessWindowHint, true);
    // The native window exists only once the widget is shown; attach to it then.
    m_window->installEventFilter(this);
    attachWindowHandle();
    return true;
}

void NrWindowAgent::setTitleBar(QWidget* titleBar) { m_titleBar = titleBar; }

void NrWindowAgent::setSystemButton(SystemButton button, QWidget* widget) {
    m_systemButtons.insert(button, widget);
}

QWidget* NrWindowAgent::systemButton(SystemButton button) const { return m_systemButtons.value(button); }

void NrWindowAgent::setHitTestVisible(QWidget* widget, bool visible) {
    if (visible)
        m_hitTestVisible.insert(widget);
    else
        m_hitTestVisible.remove(widget);
}

void NrWindowAgent::attachWindowHandle() {
    QWindow* handle = m_window->windowHandle();
    if (handle == nullptr || handle == m_handle)
        return;
    if (m_handle)
        m_handle->removeEventFilter(this);
    m_handle = handle;
    // Watching the native window sees every mouse event of the window before any child widget does.
    m_handle->installEventFilter(this);
}

Qt::Edges NrWindowAgent::edgesAt(const QPoint& pos) const {
    Qt::Edges edges;
    if (m_window == nullptr || (m_window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return edges;
    if (m_window->minimumSize() == m_window->maximumSize())
        return edges;
    const int w = m_window->width();
    const int h = m_window->height();
    if (pos.x() < 0 || pos.y() < 0 || pos.x() >= w || pos.y() >= h)
        return edges;
    if (pos.x() < kResizeBorder)
        edges |= Qt::LeftEdge;
    else if (pos.x() >= w - kResizeBorder)
        edges |= Qt::RightEdge;
    if (pos.y() < kResizeBorder)
        edges |= Qt::TopEdge;
    else if (pos.y() >= h - kResizeBorder)
        edges |= Qt::BottomEdge;
    return edges;
}

bool NrWindowAgent::isInTitleBar(const QPoint& pos) const {
    if (!m_titleBar || !m_titleBar->isVisible())
        return false;
    QWidget* hit = m_window->childAt(pos);
    for (QWidget* w = hit; w != nullptr && w != m_window; w = w->parentWidget()) {
        if (m_hitTestVisible.contains(w))
            return false;
        for (const QPointer<QWidget>& button : m_systemButtons)
            if (button == w)
                return false;
        if (w == m_titleBar)
            return true;
    }
    return false;
}

bool NrWindowAgent::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window) {
        if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange)
            attachWindowHandle();
        return false;
    }
    if (watched == m_handle)
        return handleWindowEvent(event);
    return false;
}

bool NrWindowAgent::handleWindowEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (m_drag == Drag::Resizing) {
            manualResize(e->globalPos());
            return true;
        }
        if (m_drag == Drag::Moving) {
            m_window->move(m_pressGeometry.topLeft() + e->globalPos() - m_pressGlobal);
            return true;
        }
        if (m_drag == Drag::PendingMove) {
            // Moving only after the drag distance keeps double-clicks on the title bar working.
            if ((e->globalPos() - m_pressGlobal).manhattanLength() >= QApplication::startDragDistance())
                startMove(e->globalPos());
            return true;
        }
        if (e->buttons() == Qt::NoButton)
            updateCursor(edgesAt(e->pos()));
        return false;
    }
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton)
            return false;
        m_drag = Drag::None;
        const Qt::Edges edges = edgesAt(e->pos());
        if (edges) {
            if (m_handle->startSystemResize(edges))
                return true;
            m_drag = Drag::Resizing;
            m_resizeEdges = edges;
            m_pressGlobal = e->globalPos();
            m_pressGeometry = m_window->geometry();
            return true;
        }
        if (isInTitleBar(e->pos())) {
            m_drag = Drag::PendingMove;
            m_pressGlobal = e->globalPos();
            m_pressGeometry = m_window->geometry();
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton || m_drag == Drag::None)
            return false;
        m_drag = Drag::None;
        return true;
    }
    case QEvent::MouseButtonDblClick: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton || !isInTitleBar(e->pos()))
            return false;
        m_drag = Drag::None;
        toggleMaximized();
        return true;
    }
    case QEvent::Leave:
        if (m_drag == Drag::None)
            updateCursor({});
        return false;
    default:
        return false;
    }
}

void NrWindowAgent::updateCursor(Qt::Edges edges) {
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
        shape = Qt::SizeFDiagCursor;
    else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
        shape = Qt::SizeBDiagCursor;
    else if (edges & (Qt::LeftEdge | Qt::RightEdge))
        shape = Qt::SizeHorCursor;
    else if (edges & (Qt::TopEdge | Qt::BottomEdge))
        shape = Qt::SizeVerCursor;

    if (edges) {
        m_window->setCursor(shape);
        m_cursorSet = true;
    } else if (m_cursorSet) {
        m_window->unsetCursor();
        m_cursorSet = false;
    }
}

void NrWindowAgent::startMove(const QPoint& globalPos) {
    if (m_handle->startSystemMove()) {
        // The window system owns the drag now and may swallow the release.
        m_drag = Drag::None;
        return;
    }
    m_drag = Drag::Moving;
    m_window->move(m_pressGeometry.topLeft() + globalPos - m_pressGlobal);
}

void NrWindowAgent::manualResize(const QPoint& globalPos) {
    const QPoint d = globalPos - m_pressGlobal;
    QRect g = m_pressGeometry;
    const QSize minSize = m_window->minimumSize().expandedTo(QSize(2 * kResizeBorder, 2 * kResizeBorder));
    const QSize maxSize = m_window->maximumSize();
    if (m_resizeEdges & Qt::LeftEdge) {
        const int w = qBound(minSize.width(), g.width() - d.x(), maxSize.width());
        g.setLeft(g.right() + 1 - w);
    } else if (m_resizeEdges & Qt::RightEdge) {
        g.setWidth(qBound(minSize.width(), g.width() + d.x(), maxSize.width()));
    }
    if (m_resizeEdges & Qt::TopEdge) {
        const int h = qBound(minSize.height(), g.height() - d.y(), maxSize.height());
        g.setTop(g.bottom() + 1 - h);
    } else if (m_resizeEdges & Qt::BottomEdge) {
        g.setHeight(qBound(minSize.height(), g.height() + d.y(), maxSize.height()));
    }
    m_window->setGeometry(g);
}

void NrWindowAgent::toggleMaximized() {
    if (m_window->isMaximized())
        m_window->showNormal();
    else
        m_window->showMaximized();
}
