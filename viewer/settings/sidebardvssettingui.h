#pragma once

// The "DVS Setting" side panel: one foldable section per camera tool (biases, trigger in,
// anti-flicker, event rate control, event trail filter, ROI), built from the parameters the
// tools report, and the configuration buttons (Default, Refresh, Load, Export) of a bound DVS
// camera. Every change of a row goes to the camera at once (setParam) and into the working
// configuration file of the camera's kind (syncJsonFile). For a fusion camera the panel gets the DVS
// tools but is not bound; the APS panel's buttons serve that camera and its refresh reaches these
// rows through slotParamChangedDelivery; the main window names the fusion camera's working file.
//
// Calling order when a camera opens: setParamManagerUI (DVS cameras only), then the six set…
// operations in the order declared below; the ROI step ends with a refresh.
//
// Threads: GUI thread only. All connections are direct.
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Utility/nrmessagetype.h"
#include "norvale/CameraTool.h"
#include "norvale/DvsCamera.h"

namespace Ui {
class SidebarDvsSettingUI;
}
class ConfigButtonBar;
class LoadConfig;
class SettingBaseWithLineEdit;
class SettingItemBox;
struct ToolSectionRules;

class SidebarDvsSettingUI : public QWidget {
    Q_OBJECT
public:
    explicit SidebarDvsSettingUI(QWidget* parent = nullptr);
    ~SidebarDvsSettingUI() override;

    // Each replaces its section; an empty tool (or one without parameters) leaves it out.
    void setBiasesToolToInitUI(std::shared_ptr<norvale::CameraTool> tool);
    void setTriggerInToolUI(std::shared_ptr<norvale::CameraTool> tool);
    void setAntiFlickerToolUI(std::shared_ptr<norvale::CameraTool> tool);
    void setEventRateControlToolUI(std::shared_ptr<norvale::CameraTool> tool);
    void setEventTrailFilterToolUI(std::shared_ptr<norvale::CameraTool> tool);
    void setROIToolUI(std::shared_ptr<norvale::CameraTool> tool);

    // Shows the configuration buttons, binds the camera and applies the working configuration
    // file to it (not to Ethernet cameras nor the "NOrvale.320camera").
    void setParamManagerUI(std::shared_ptr<norvale::DvsCamera> camera);
    // Where row changes are recorded: the DVS camera's working file once one is bound; the fusion
    // camera's, named by the main window, for a fusion camera's tools; "" records nothing. Tools of
    // another camera than the bound one and clearTools forget it, so one camera's settings never
    // land in the other kind's file.
    void setWorkingFile(const QString& path);
    // Removes the buttons and every section and releases the bound camera.
    void clearTools();

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);
    void signalShowLeftBottomTips(QString tips, NrMessageType type = NrMessageSuccess, QString file_path = QString());
    // The panel's broadcast to its rows; each row takes only its own name.
    void signalSetValue(std::string name, int value);
    void signalSetValue(std::string name, bool value);
    void signalSetValue(std::string name, float value);
    void signalSetValue(std::string name, std::string value);

public slots:
    // Values changed elsewhere (the APS panel) shown by the rows of the same name.
    void slotParamChangedDelivery(std::string name, int value);
    void slotParamChangedDelivery(std::string name, bool value);
    void slotParamChangedDelivery(std::string name, float value);
    void slotParamChangedDelivery(std::string name, std::string value);

private slots:
    void onBiasSliderValueChanged(std::string name, int value);
    void onTriggerInSliderValueChanged(std::string name, bool value);
    void onAntiFlickerSliderValueChanged(std::string name, int value);
    void onAntiFlickerSliderValueChanged(std::string name, bool value);
    void onAntiFlickerSliderFloatValueChanged(std::string name, int value);
    void onAntiFlickerSliderEnumValueChanged(std::string name, std::string value);
    void onEventRateControlSliderValueChanged(std::string name, int value);
    void onEventRateControlSliderValueChanged(std::string name, bool value);
    void onEventTrailFilterSliderValueChanged(std::string name, int value);
    void onEventTrailFilterSliderValueChanged(std::string name, bool en);
    void onEventTrailFilterSliderValueChanged(std::string name, std::string value);
    void onROISliderValueChanged(std::string name, int value);
    void onROISliderValueChanged(std::string name, bool value);
    void onROISliderValueChanged(std::string name, std::string value);
    void slotCumulativeTimeChanged(uint64_t time_us);
    void slotFpsChanged(uint32_t fps);
    void slotExportConfig();
    void slotLoadConfig();
    void slotRefreshConfig();
    void slotDefaultConfig();

protected:
    // File dialogs of Load (forExport false) and Export; tests answer them.
    virtual QString chooseConfigFile(bool forExport);

private:
    enum Section { Biases, TriggerIn, AntiFlicker, EventRateControl, EventTrailFilter, Roi, SectionCount };
    struct SectionState {
        std::shared_ptr<norvale::CameraTool> tool;
        SettingItemBox* box = nullptr;
    };

    void buildSection(Section section, std::shared_ptr<norvale::CameraTool> tool);
    ToolSectionRules rulesFor(Section section);
    std::function<void(const QString&, NrMessageType)> tipSink();
    void releaseForeignCamera(norvale::ToolType type, const std::shared_ptr<norvale::CameraTool>& tool);
    bool applyRoiValue(const std::string& name, int value);
    // setParam on the section's tool, then the value into the working configuration file.
    template <class CameraValue, class JsonValue>
    void apply(Section section, const std::string& name, CameraValue cameraValue, JsonValue jsonValue);

    Ui::SidebarDvsSettingUI* ui;
    std::shared_ptr<norvale::DvsCamera> camera;
    QString workingFile;
    SectionState sections[SectionCount];
    std::vector<SettingBaseWithLineEdit*> roiIntRows;
    LoadConfig* config;
    ConfigButtonBar* configButtons;
};
