#pragma once

// The viewer's single top-level window: a frameless frame with our own title row and menus, the
// image view, the play bar with the timeline, the side-bar area and the status bar. It owns the
// event processor and the fusion processor (both created without parent, deleted here after the
// source that feeds them) and plays, seeks, exports and cuts recordings through them.
//
// Threads: GUI thread only. The processor emits every signal on the GUI thread; tips from other
// threads reach slotShowLeftBottomTips queued.
//
// What play and record mean lives in one NrSource per kind (ui/nrsource.h: a DVS or fusion
// recording, ui/nrdvscamerasource.h: a live DVS camera, ui/nrfusioncamerasource.h: a live fusion
// camera); the slots delegate to the current one. Both processors get the play bar's and the
// timeline's signals; each acts only on what it has loaded. Opening cameras, the window's side of
// every camera source and the camera information live in mainwidget_camera.cpp; the fusion
// wiring, the viewer-type button and the APS panel in mainwidget_fusion.cpp.
//
// It owns the recorder (timed recordings on a trigger edge, their pre-trigger cache set up by
// initDvsCameraSettings) and the recording-time label's clock (mainwidget_record.cpp).
#include <QString>
#include <QVector>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

#include "Utility/nrmessagetype.h"
#include "norvale/CameraTypes.h"
#include "ui/nrsourcetype.h"

class LoadConfig;
class NrFileRecorder;
class NrRecordingClock;
class NrCameraSource;
class NrEventProcessor;
class NrFusionCameraDataProcessor;
class NrPlaybackFront;
class NrSource;
class SidebarApsSettingUI;
class SidebarDvsSettingUI;
class NrThreeHandleSlider;
class NrWindowAgent;
class QAction;
class QDialog;
class QMenu;
class QPushButton;
class ShowImageForm;
class SidebarCameraSettingUI;
class WaitingWin;

namespace Ui {
class MainWidget;
}

class MainWidget : public QWidget {
    Q_OBJECT
public:
    explicit MainWidget(QWidget* parent = nullptr);
    ~MainWidget() override;

    // Opens a recording as the File menu does after its dialog: the command line and drops use it.
    void openRecording(const QString& path);
    // The Open Recording dialog's filters: every event file, then each format.
    static QString recordingFileFilters();
    // Opens the camera of that serial as Device -> Open Camera does after its list ("viewer --camera").
    void openCamera(const QString& serial);

    NrWindowAgent* windowAgent() const { return m_agent; }
    ShowImageForm* imageView() const { return m_imageView; }
    NrThreeHandleSlider* timeSlider() const { return m_slider; }
    NrEventProcessor* eventProcessor() const { return m_eventProcessor; }
    NrFusionCameraDataProcessor* fusionProcessor() const { return m_fusionProcessor; }
    WaitingWin* waitingWindow() const { return m_waitWin; }
    // What plays now: the current source's kind, none before anything opened or after a failed open.
    int sourceType() const;
    NrSource* source() const { return m_source; }
    SidebarDvsSettingUI* dvsSidebar() const { return m_dvsSidebar; }
    NrFileRecorder* recorder() const { return m_recorder; }
    SidebarApsSettingUI* apsSidebar() const { return m_apsSidebar; }
    // The fusion view shown: 0 DVS, 1 APS, 2 both.
    int viewerType() const { return m_viewerType; }

signals:
    // The fusion processor's view (string-based connection).
    void signalSetViewerShowType(norvale::STREAM_TYPE type);
    void signalShowLeftBottomTips(QString tips, NrMessageType type = NrMessageSuccess, QString file_path = QString());
    // Nothing emits these two yet: the play bar reaches the processors directly.
    void signalPlaybackReset();
    void signalPlaybackCtrl(bool play);
    void signalOpenRawFile(QString path);
    // A fusion recording's ".raw" for the fusion processor ("" drops its recording).
    void signalOpenFusionFile(QString path);
    void signalExportVideo(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts);
    void signalCutRawFile(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts);
    // A timed recording (a trigger edge); may be emitted on a camera thread, the recorder takes it queued.
    void signalRecByTime(uint32_t seconds, QString path);
    // The images' size changed (a source of another geometry); the image view fits it.
    void signalImageReslotionChanged(int width, int height);

public slots:
    void slotShowLeftBottomTips(QString tips, NrMessageType type, QString file_path);
    void slotShowLeftBottomTips(QString tips, NrMessageType type);
    void slotShowLeftBottomTips(QString tips);
    void slotSetSliderStartTime(uint64_t timestamp_us);
    void slotSetSliderEndTime(uint64_t timestamp_us);
    void slotSetWaitWinStatus(bool en);

protected:
    // The places where the window waits for the user; tests replace them.
    // A recording chosen in the file dialog, "" when cancelled.
    virtual QString chooseRecordingFile();
    // Runs a modal dialog and returns its result.
    virtual int execDialog(QDialog* dialog);
    // Starts a new instance of the program (the language switch); this one ends with its windows.
    virtual void restartApplication();

    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

public slots:
    // Device -> Open Camera: the camera list, the address checks, the open behind the waiting window.
    void slotOpenCamera();
    // Device -> Open Network Stream...: a UDP event stream's address, size and format, then opened
    // as a camera.
    void slotOpenNetworkStream();

private slots:
    // Trigger-in recording for the open DVS camera as configured (on open and after the settings change).
    void initDvsCameraSettings();
    void showCameraPlayingUI(bool en);
    void on_pb_record_clicked(bool checked);
    void on_pb_win_min_clicked();
    void on_pb_win_close_clicked();
    void openActionSlot(QAction* action);
    void slotOpenRecording();
    void slotSaveAs();
    void slotCutRecording();
    void slotShowToolIPConfig();
    // Device -> Camera Info: the open camera's identity and firmware.
    void slotShowCameraInfo();
    void setShowTitleInfo(bool show);
    void showTimeStamp(uint64_t timestamp_us);
    void showLocalTime(QString str);
    void on_pb_win_max_clicked();
    void maximizedChanged(bool max);
    void on_pb_fold_setting_clicked(bool checked);
    void on_pb_fold_dvs_setting_clicked(bool checked);
    void on_pb_fold_aps_setting_clicked(bool checked);
    void on_pb_viewer_type_clicked();
    void on_pb_viewer_setting_clicked(bool checked);
    void slotStartEndPointEditable(bool en);
    void on_pb_fold_general_setting_clicked();
    void on_pb_play_clicked(bool checked);

private:
    void initParam();
    void initViewer();
    void initStyle();
    QMenu* createMenu(QPushButton* button);
    void initFileMenu();
    void initSettingMenu();
    void initHelpMenu();
    void initViewerMenu();
    void initDeviceMenu();
    void initToolsMenu();
    void connectRecorder();
    // The label counts while recording by hand or on a trigger.
    void updateRecordingClock();
    // The address checks, then the open of the kind the camera is (fusion: as the manager says,
    // whatever its product name), the panels and the stream.
    void openDescribedCamera(const norvale::CameraDescription& desc, bool fusion);
    // Replaces the current source (stopping and releasing it) with source, which may be null.
    void setSource(NrSource* source);
    // Runs task on a WorkerThread while the waiting window shows; returns when it has finished.
    void runBehindWaitingWindow(const std::function<void()>& task);
    // Opens the chosen DVS camera on a worker thread while the waiting window shows; true on success.
    bool openDvsCamera(const std::string& serial);
    // The same for a fusion camera: firmware check, calibration and callbacks into the processor.
    bool openFusionCamera(const std::string& serial);
    void reportOpenFailed(const std::string& serial);
    // The window's side of any camera source: status bar, tips, lost connection, record button.
    void connectCameraSource(NrCameraSource* source);
    void setSidebarDvsSettingUI();
    void setSidebarApsSettingUI();
    // The side-bar buttons work as a group: button's panel alone, the area open while checked.
    void showSidebar(QPushButton* button, bool checked);
    // The source changed: the camera panels lose their tools and their buttons.
    void resetSidebars();
    // The viewer-type button belongs to fusion sources; it and the processor show the same view.
    void updateFusionControls();
    void updateStatusBarInfo();
    void initSidebarSettingUI();
    void initConnect();
    void connectEventProcessor();
    void connectPlayBar(NrPlaybackFront* front);
    void connectFusionProcessor();
    void setViewerTypeStyle(int viewerType);
    void runGeneralSetting();
    void switchLanguage();
    void showAboutUs();
    // True for an open DVS recording; otherwise tells the user to open one.
    bool requireDvsRecording();
    // The export and cut actions share everything but the dialog, the extension and the signal.
    template <class Dialog, class Signal>
    void runTimeRangeDialog(const QString& extension, Signal signal);
    // Whether a dropped file is a recording: any event-file format's extension and content.
    static bool isRecordingFile(const QString& path);

    Ui::MainWidget* ui;
    QAction* m_saveAsAction = nullptr;
    QAction* m_cutAction = nullptr;
    // What a cut of the shown recording is written as: its own format's extension where that
    // format can be written, else ".raw" (EVT 3.0).
    QString m_cutExtension = QStringLiteral(".raw");
    WaitingWin* m_waitWin = nullptr;
    LoadConfig* m_config = nullptr;
    NrWindowAgent* m_agent = nullptr;
    ShowImageForm* m_imageView = nullptr;
    NrThreeHandleSlider* m_slider = nullptr;
    int m_viewerType = 2;
    SidebarCameraSettingUI* m_cameraSidebar = nullptr;
    SidebarDvsSettingUI* m_dvsSidebar = nullptr;
    SidebarApsSettingUI* m_apsSidebar = nullptr;
    NrSource* m_source = nullptr; // owned; null before anything is open
    QVector<QMetaObject::Connection> m_playBarConnections; // to the shown recording's front
    uint64_t m_dvsBatchInterval = 0;
    // The status bar's four parts: tip, bandwidth, event rate (with the drops), spare.
    QString m_statusParts[4];
    QMenu* m_viewerMenu = nullptr;
    QAction* m_trimAction = nullptr; // the viewer menu's start/end handles, for recordings only

    // Menu texts, translated once when the window is built.
    QString m_textOpenCamera, m_textCameraInfo, m_textIpConfig, m_textOpenRecording, m_textSaveAs, m_textCut,
        m_textQuit, m_textGeneralSetting, m_textLanguage, m_textAboutUs, m_textToggleTrim, m_textOpenNetworkStream;

    NrEventProcessor* m_eventProcessor = nullptr;
    NrFileRecorder* m_recorder = nullptr; // owned
    NrRecordingClock* m_recordingClock = nullptr;
    NrFusionCameraDataProcessor* m_fusionProcessor = nullptr;
};
