#pragma once

// The list of attached cameras from which the user picks the one to open. The caller runs it
// modally and, when accepted, reads the chosen row with getSelectIndex (an index into the same
// vector it passed in) or the serial with getSelectSerial.
//
// Threads: GUI thread only.
#include <QDialog>

#include <vector>

#include "norvale/CameraTypes.h"

namespace Ui {
class CamerasList;
}
class NrWindowAgent;

using norvale::CameraDescription;

class CamerasList : public QDialog {
    Q_OBJECT
public:
    CamerasList(std::vector<CameraDescription>& cameras, QWidget* parent = nullptr);
    ~CamerasList() override;

    // False when no row is current; else the current entry's text (the serial).
    bool getSelectSerial(QString& serial) const;
    // False when no row is current; else the current row.
    bool getSelectIndex(int& index) const;

public slots:
    void rejected();
    void on_pb_win_close_clicked();
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    Ui::CamerasList* ui;
    QWidget* m_parent;
    NrWindowAgent* m_agent;
};
