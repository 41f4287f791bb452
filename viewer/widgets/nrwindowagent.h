#pragma once

// Gives a frameless top-level widget the behaviour of a window frame: the title bar moves the window
// (double-click maximises or restores), the edges and corners resize it with the matching cursor.
// Move and resize go through the window system (QWindow::startSystemMove / startSystemResize); where
// the platform refuses, the agent moves and resizes the window itself.
//
// Threads: GUI thread only. The agent is a child of the window it serves.
#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSet>

class QMouseEvent;
class QWidget;
class QWindow;

class NrWindowAgent : public QObject {
    Q_OBJECT
public:
    enum SystemButton { WindowIcon, Minimize, Maximize, Close };

    explicit NrWindowAgent(QWidget* window);

    // Makes the window frameless and starts serving it.
    bool setup(QWidget* window);
    // The free area of the title row; pressing it drags the window.
    void setTitleBar(QWidget* titleBar);
    // Buttons inside the title row that keep their clicks instead of dragging.
    void setSystemButton(SystemButton button, QWidget* widget);
    QWidget* systemButton(SystemButton button) const;
    void setHitTestVisible(QWidget* widget, bool visible = true);

    // Width of the band along the window's border that resizes it, in logical pixels.
    static constexpr int kResizeBorder = 6;

    // Which edges a point (window coordinates) would resize; none while maximised or fixed in size.
    Qt::Edges edgesAt(const QPoint& pos) const;
    // True when a press at pos (window coordinates) belongs to the title bar's drag area.
    bool isInTitleBar(const QPoint& pos) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Drag { None, PendingMove, Moving, Resizing };

    void attachWindowHandle();
    bool handleWindowEvent(QEvent* event);
    void updateCursor(Qt::Edges edges);
    void startMove(const QPoint& globalPos);
    void manualResize(const QPoint& globalPos);
    void toggleMaximized();

    QWidget* m_window = nullptr;
    QPointer<QWindow> m_handle;
    QPointer<QWidget> m_titleBar;
    QHash<int, QPointer<QWidget>> m_systemButtons;
    QSet<QWidget*> m_hitTestVisible;

    Drag m_drag = Drag::None;
    Qt::Edges m_resizeEdges;
    QPoint m_pressGlobal;
    QRect m_pressGeometry;
    bool m_cursorSet = false;
};
