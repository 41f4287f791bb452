#pragma once

// Modal busy indicator: an animation centred over its parent and, when a progress is given, the
// percentage under it.
//
// Threads: GUI thread only.
#include <QDialog>

class QLabel;
class QMovie;

class WaitingWin : public QDialog {
    Q_OBJECT
public:
    explicit WaitingWin(QWidget* parent = nullptr);

    // While visible, centres the window over its parent again (the parent moved or resized).
    void updatePos();

public slots:
    // fraction in [0, 1] shows "NN%" under the animation; a negative value shows the animation alone.
    void setProgress(double fraction);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void centreOverParent();

    QLabel* label_waiting;
    QLabel* m_progress;
    QMovie* m_movie;
    QWidget* m_parent;
};
