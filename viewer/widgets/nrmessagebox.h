#pragma once

// Two-button question dialog with the viewer's own title bar. exec() returns non-zero only when
// the accept button was clicked; the reject button and the title-bar close button reject.
//
// Threads: GUI thread only.
#include <QDialog>

namespace Ui {
class NRMessageBox;
}
class NrWindowAgent;

class NRMessageBox : public QDialog {
    Q_OBJECT
public:
    NRMessageBox(const QString& message, const QString& title, const QString& acceptText,
                 const QString& rejectText, QDialog* parent = nullptr);
    ~NRMessageBox() override;

private slots:
    void on_pb_open_clicked();
    void on_pb_close_clicked();
    void on_pb_win_close_clicked();

private:
    Ui::NRMessageBox* ui;
    NrWindowAgent* m_agent;
};
