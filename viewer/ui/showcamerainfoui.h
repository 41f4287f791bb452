#pragma once

// Shows the identity of the open camera: product, manufacturer, serial and firmware version.
//
// Threads: GUI thread only.
#include <QDialog>

#include <string>

#include "norvale/CameraTypes.h"

namespace Ui {
class ShowCameraInfoUI;
}
class NrWindowAgent;

class ShowCameraInfoUI : public QDialog {
    Q_OBJECT
public:
    explicit ShowCameraInfoUI(QWidget* parent = nullptr);
    ~ShowCameraInfoUI() override;

    // Texts are UTF-8.
    void setCameraInfo(norvale::CameraDescription description, std::string firmwareVersion);

public slots:
    void on_pb_close_clicked();
    void on_pb_win_close_clicked();

private:
    Ui::ShowCameraInfoUI* ui;
    NrWindowAgent* m_agent;
};
