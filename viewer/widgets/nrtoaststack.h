#pragma once

// The window's toasts, kept where they cover no control: in the lower-left corner of an area that
// holds none (the main window's image view, above the play bar), the newest lowest and the older
// ones above it. At most kMaxShown show at once, and no more than fit the area: the oldest goes
// first, so toasts that come quickly (a trigger pulse each second) never grow over the window. A
// toast that is closed or expires lets the others close up; the stack follows the area when the
// window is resized or a side panel opens.
//
// Threads: GUI thread only.
#include <QList>
#include <QObject>
#include <QPointer>

#include "Utility/nrmessagetype.h"

class NrFilePathReminderForm;
class QWidget;

class NrToastStack : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxShown = 3;
    static constexpr int kMargin = 12;
    static constexpr int kSpacing = 6;

    // Toasts become children of window and sit over area (window itself or a widget inside it).
    NrToastStack(QWidget* window, QWidget* area);
    // window's stack, made over area on first use.
    static NrToastStack* of(QWidget* window, QWidget* area);

    NrFilePathReminderForm* show(const QString& tips, NrMessageType type, const QString& dirPath);
    // The toasts on screen, oldest first.
    QList<NrFilePathReminderForm*> shown() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void relayout();
    void relayoutLater();

    QWidget* m_window;
    QPointer<QWidget> m_area;
    QList<QPointer<NrFilePathReminderForm>> m_toasts; // oldest first
    bool m_relayoutPending = false;
};
