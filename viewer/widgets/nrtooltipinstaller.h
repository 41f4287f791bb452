#pragma once

// Gives any widget (a play-bar button, say) the viewer's own hover tip instead of Qt's native one:
//     NrToolTipInstaller::attach(ui->pb_play, tr("Play/Stop"));
// The tip (NrToolTip, kind 0: centred above the widget) shows 2 s after the pointer enters, hides
// 3 s later or 0.3 s after the pointer leaves, and on a click. It follows the widget's toolTip text:
// setToolTip() later changes the tip, and the native tip never shows.
//
// Threads: GUI thread only. The installer is a child of the widget and dies with it.
#include <QObject>
#include <QPointer>

class NrToolTip;
class QWidget;

class NrToolTipInstaller : public QObject {
    Q_OBJECT
public:
    // text empty: the widget's current toolTip(). Attaching twice replaces the first installer.
    static NrToolTipInstaller* attach(QWidget* widget, const QString& text = QString());
    // The installer of a widget, or null.
    static NrToolTipInstaller* of(const QWidget* widget);

    ~NrToolTipInstaller() override;

    NrToolTip* tip() const { return m_tip; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit NrToolTipInstaller(QWidget* widget);

    QWidget* m_widget;
    QPointer<NrToolTip> m_tip;
};
