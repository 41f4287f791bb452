#pragma once

// The start dialog: logo and version for 2 s (or until its close button), then start-up goes on.
// GUI thread only.
#include <QDialog>

class QTimer;

namespace Ui {
class InitDialog;
}

class InitDialog : public QDialog {
    Q_OBJECT
public:
    explicit InitDialog(QWidget* parent = nullptr);
    ~InitDialog() override;

    static constexpr int kShowMs = 2000;

private slots:
    void on_btn_close_clicked();

private:
    Ui::InitDialog* ui;
    QTimer* m_closeTimer;
};
