#pragma once

// The "APS Setting" side panel of a fusion camera: a section built from the camera's APS tool,
// a manual calibration box (an X/Y offset of the APS image against the events, applied by the
// fusion view when "Apply" is pressed) and the configuration buttons (Default, Refresh, Load,
// Export), which serve the whole fusion camera. After Apply the offset lies in the calibration and
// the rows start again from 0. Its refresh reaches the DVS panel's rows through
// signalSetValue, which the main window connects to SidebarDvsSettingUI::slotParamChangedDelivery.
//
// Calling order when a fusion camera opens: setApsToolToInitUI, setApsManualCalibrationToInitUI,
// setParamManagerUI.
//
// Threads: GUI thread only. All connections are direct.
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "Utility/nrmessagetype.h"
#include "norvale/CameraTool.h"
#include "norvale/FusionCamera.h"

namespace Ui {
class SidebarApsSettingUI;
}
class ConfigButtonBar;
class LoadConfig;
class SettingItemBox;

class SidebarApsSettingUI : public QWidget {
    Q_OBJECT
public:
    explicit SidebarApsSettingUI(QWidget* parent = nullptr);
    ~SidebarApsSettingUI() override;

    // Replaces the APS section; an empty tool (or one without parameters) leaves it out.
    void setApsToolToInitUI(std::shared_ptr<norvale::CameraTool> tool);
    // Replaces the manual calibration box; its rows show the current offsets.
    void setApsManualCalibrationToInitUI();
    // Shows the configuration buttons, binds the camera, applies the fusion camera's working file
    // (the last settings of a fusion camera, which APS rows update too) and refreshes the rows.
    void setParamManagerUI(std::shared_ptr<norvale::FusionCamera> camera);
    // Removes the buttons and the APS section and releases the camera. The calibration box
    // stays: its offsets also serve fusion recordings.
    void clearTools();

signals:
    void signalManualCaliOffsetXY(double x, double y);
    void signalApplyCaliOffset();
    void signalShowLeftBottomTips(QString tips, NrMessageType type = NrMessageSuccess, QString file_path = QString());
    void signalSetValue(std::string name, int value);
    void signalSetValue(std::string name, bool value);
    void signalSetValue(std::string name, float value);
    void signalSetValue(std::string name, std::string value);

private slots:
    void onApsBoolValueChanged(std::string name, bool value);
    void onApsSliderValueChanged(std::string name, int value);
    void onApsSliderFloatValueChanged(std::string name, int value);
    void slotExportConfig();
    void slotLoadConfig();
    void slotRefreshConfig();
    void slotDefaultConfig();

protected:
    // File dialogs of Load (forExport false) and Export; tests answer them.
    virtual QString chooseConfigFile(bool forExport);

private:
    std::function<void(const QString&, NrMessageType)> tipSink();
    QWidget* makeOffsetRow(const char* name, const QString& tip, double& offset);
    void replaceBox(SettingItemBox*& box, SettingItemBox* replacement);
    // setParam on the APS tool, then, with a camera bound, the value into its working file.
    template <class T>
    void apply(const std::string& name, T value);

    Ui::SidebarApsSettingUI* ui;
    std::shared_ptr<norvale::FusionCamera> camera;
    std::shared_ptr<norvale::CameraTool> apsTool;
    SettingItemBox* apsBox = nullptr;
    SettingItemBox* calibrationBox = nullptr;
    LoadConfig* config;
    ConfigButtonBar* configButtons;
    double offsetX = 0;
    double offsetY = 0;
};
