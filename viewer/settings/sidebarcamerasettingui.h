#pragma once

// The "Camera Setting" side panel: the display settings of the image view (accumulation time and
// slow rate) in one foldable box. Its two signals carry the values to the stream processors.
//
// Threads: GUI thread only.
#include <QWidget>

#include <cstdint>

namespace Ui {
class SidebarCameraSettingUI;
}
class SettingDisplayItem;
class SettingItemBox;

class SidebarCameraSettingUI : public QWidget {
    Q_OBJECT
public:
    explicit SidebarCameraSettingUI(QWidget* parent = nullptr);
    ~SidebarCameraSettingUI() override;

    // The slow rate only applies to recordings; the main window disables it for live cameras.
    void setDispItemFPSEnable(bool enable);
    // The display rate shown (30 x the slow rate); the main window starts the processors with it.
    uint32_t displayRate() const;
    // The frame step of the slow rate shown (1 s / display rate, exact); the main window starts
    // the playback fronts with it.
    uint64_t frameStepUs() const;

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);
    void signalFrameStepChanged(uint64_t step_us);

private slots:
    void slotCumulativeTimeChanged(uint64_t time_us);
    void slotFpsChanged(uint32_t fps);

private:
    void buildDisplaySection();

    Ui::SidebarCameraSettingUI* ui;
    SettingItemBox* displayBox = nullptr;
    SettingDisplayItem* displayItem = nullptr;
};
