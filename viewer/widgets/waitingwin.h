#pragma once

// Modal busy indicator: an animation centred over its parent and, when a progress is given, the
// percentage under it; for work that can be stopped (export, cut) a Cancel button that emits
// signalCancelRequested().
//
// A translucent window needs a compositing manager. Under X11 without one its background would show
// as a black square, so the window then draws a white rounded card and clips itself to it with a
// mask (the shape is decided once, at construction).
//
// Threads: GUI thread only.
#include <QDialog>

class QLabel;
class QMovie;
class QPushButton;

class WaitingWin : public QDialog {
    Q_OBJECT
public:
    enum class Shape {
        Translucent, // floats over the parent with no background
        MaskedCard,  // opaque card cut to its rounded shape
    };

    explicit WaitingWin(QWidget* parent = nullptr);
    // Tests and special platforms: force a shape.
    WaitingWin(QWidget* parent, Shape shape);

    // Translucent where the platform composes windows: not on X11 without a compositing manager.
    static Shape platformShape();
    Shape shape() const { return m_shape; }

    // While visible, centres the window over its parent again (the parent moved or resized).
    void updatePos();

    // Shows or hides the Cancel button; showing it makes it usable again.
    void setCancellable(bool cancellable);

public slots:
    // fraction in [0, 1] shows "NN%" under the animation; a negative value shows the animation alone.
    void setProgress(double fraction);

signals:
    // The user pressed Cancel (once per showing; the button then waits for the work to stop).
    void signalCancelRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void centreOverParent();
    void onCancelClicked();
    // The card around the visible contents (masked shape only).
    QRect cardRect() const;
    void updateShape();

    QLabel* label_waiting;
    QLabel* m_progress;
    QPushButton* m_cancel;
    QMovie* m_movie;
    QWidget* m_parent;
    Shape m_shape;
};
