#pragma once

// Hover tip anchored to a widget: shown 2 s after the pointer enters it, hidden 3 s later or
// 0.3 s after the pointer leaves. Position kind 0 puts the tip centred above the widget, kind 2
// above and to its left; other kinds show nothing.
//
// Threads: GUI thread only.
#include <QBasicTimer>
#include <QDialog>
#include <QPointer>

class QLabel;

using NrToolTipPos = int;

class NrToolTip : public QDialog {
    Q_OBJECT
    Q_PROPERTY(int xOffset READ xOffset WRITE setXOffset NOTIFY xOffsetChanged)
    Q_PROPERTY(int yOffset READ yOffset WRITE setYOffset NOTIFY yOffsetChanged)
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(Qt::Alignment alignment READ alignment WRITE setAlignment NOTIFY alignmentChanged)
public:
    NrToolTip(const QString& text, NrToolTipPos position, QWidget* parent = nullptr);

    void anchorTarget(QWidget* target);
    void showTip(const QPoint& point);
    void showTip(const QWidget* target);
    void hideTip();

    int xOffset() const { return m_xOffset; }
    void setXOffset(int offset);
    int yOffset() const { return m_yOffset; }
    void setYOffset(int offset);
    QString text() const;
    void setText(const QString& text);
    Qt::Alignment alignment() const;
    void setAlignment(Qt::Alignment alignment);

    // Delays in ms: before showing, how long it stays, and after the pointer left. Tests shorten them.
    void setDelays(int showMs, int stayMs, int leaveMs);

signals:
    void xOffsetChanged();
    void yOffsetChanged();
    void textChanged();
    void alignmentChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QLabel* m_label;
    QPointer<QWidget> m_target;
    NrToolTipPos m_position;
    QBasicTimer m_showTimer;
    QBasicTimer m_hideTimer;
    int m_xOffset = 0;
    int m_yOffset = 0;
    int m_showMs = 2000;
    int m_stayMs = 3000;
    int m_leaveMs = 300;
};
