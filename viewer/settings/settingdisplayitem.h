#pragma once

// Display row: accumulation time (how much event time one image covers) and slow rate (display
// rate as a multiple of 30 images per second), each an editable combo box. Texts are checked as
// they are typed (blue or red border); a valid value is emitted when editing finishes or an item
// is picked from the list, once per new value.
//
// Slow rates are accepted from the first value that gives at least one image per second
// (rate x 30 >= 1, so 0.034 but not 0.033) up to 1000; a display rate of 0 is never emitted.
//
// Threads: GUI thread only.
#include <QWidget>

#include <cstdint>

namespace Ui {
class SettingDisplayItem;
}
class NrComboBox;

class SettingDisplayItem : public QWidget {
    Q_OBJECT
public:
    explicit SettingDisplayItem(QWidget* parent = nullptr);
    ~SettingDisplayItem() override;

    void setFPSEnable(bool enable);
    // The display rate the row shows (30 x the slow rate, truncated), from the start on.
    uint32_t displayRate() const { return displayRateOf(lastRate); }
    // The event time one frame steps at the slow rate shown: 1 s / (30 x rate), rounded.
    uint64_t frameStepUs() const { return frameStepOf(lastRate); }

    // "250" -> 250000, "500us" -> 500, "1.5ms" -> 1500; 0 when the text is not a positive time.
    static uint64_t convertToMicroseconds(const QString& text);
    // 30 x rate truncated, or 0 when the text is not an accepted slow rate or the rate is below 1/30.
    static uint32_t displayRateOf(const QString& text);
    // 1 s / (30 x rate) in us, rounded, or 0 when the text is not an accepted slow rate.
    static uint64_t frameStepOf(const QString& text);

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);
    // The exact frame step of the new slow rate (rates below 1/30 included).
    void signalFrameStepChanged(uint64_t step_us);

private slots:
    void slotAccumulationTimeTextChanged(const QString& text);
    void slotAccumulationTimeTextEditFinished();
    void slotFrameRateTextChanged(const QString& text);
    void slotFrameRateEditTextFinished();

private:
    static QString withUnit(const QString& text);
    static void markValid(NrComboBox* box, bool valid);
    static void markIdle(NrComboBox* box);

    Ui::SettingDisplayItem* ui;
    uint64_t lastAccumulationUs = 0; // last value reported; the processors start from the first item
    QString lastRate; // the list's first item until the user picks another
};
