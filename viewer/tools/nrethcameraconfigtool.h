#pragma once

// Gives a camera attached over Ethernet a new IP address, subnet mask and gateway. Lists the
// Ethernet cameras the driver sees (searched on a thread of its own), shows the selected one and
// sends the edited addresses with DvsCameraManager::ethCameraForceIP. Address texts are checked
// first: a text that is not a dotted quad gets an error tip and nothing is sent.
//
// Threads: everything on the GUI thread except the search, which runs on refreshThread and
// only writes m_found (under m_foundMutex) and emits signalLoadingStatus / signalRefreshCompleted.
// ethCameras is GUI-thread only: slotRefreshCompleted moves the search result into it.
#include <QDialog>

#include <mutex>
#include <thread>
#include <vector>

#include "Utility/nrmessagetype.h"
#include "norvale/CameraTypes.h"

namespace Ui {
class NrEthCameraConfigTool;
}
class NrWindowAgent;

class NrEthCameraConfigTool : public QDialog {
    Q_OBJECT
public:
    // Starts the first search.
    explicit NrEthCameraConfigTool(QWidget* parent = nullptr);
    // Waits for a running search.
    ~NrEthCameraConfigTool() override;

    // The Ethernet cameras of the last finished search, in driver order; row i is element i.
    const std::vector<norvale::CameraDescription>& cameras() const { return ethCameras; }

signals:
    void signalShowLeftBottomTips(QString tips, NrMessageType type, QString file_path);
    void signalLoadingStatus(bool loading);
    void signalRefreshCompleted();

public slots:
    void on_pb_win_close_clicked();
    void on_pb_close_clicked();
    void on_listWidget_cameras_currentRowChanged(int currentRow);
    void on_pb_refresh_clicked();
    void on_pb_config_clicked();
    void slotRefreshCompleted();

private:
    void search();
    void clearInvalidMarks();

    Ui::NrEthCameraConfigTool* ui;
    std::vector<norvale::CameraDescription> ethCameras;
    std::thread refreshThread;
    std::mutex m_foundMutex;
    std::vector<norvale::CameraDescription> m_found; // guarded by m_foundMutex
    NrWindowAgent* m_agent;
};
