#pragma once

// The form shared by the export-video and cut-recording dialogs: a time range in us, a target
// folder and a file name. The confirm button stays disabled (and the offending row red) while a
// time is not a number, the end is not after the start, or the folder or the name is empty.
// Plus and minus step a time by one frame interval (33 333 us) within the recording's bounds.
//
// Threads: GUI thread only.
#include <QDialog>

#include <cstdint>

namespace Ui {
class NrTimeRangeDialog;
}
class NrWindowAgent;

class NrTimeRangeDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr uint64_t kFrameStepUs = 33333;

    explicit NrTimeRangeDialog(QWidget* parent = nullptr);
    ~NrTimeRangeDialog() override;

    void setStartTime(uint64_t us);
    void setEndTime(uint64_t us);
    void setSaveFilePath(const QString& folder);
    void setSaveFileName(const QString& name);
    // The recording's first and last timestamps; plus and minus stay inside them.
    void setTimeBounds(uint64_t first, uint64_t last);

    // 0 when the text is not a number.
    uint64_t getStartTime() const;
    uint64_t getEndTime() const;
    QString getSaveFilePath() const;
    // folder + "/" + name, exactly as typed.
    QString getSaveFileFullPath() const;
    // True when the confirm button may be used.
    bool isInputValid() const;

protected:
    // Title, confirm text and default file name of the concrete dialog.
    void setTexts(const QString& title, const QString& confirm, const QString& defaultName);
    // Asks for a folder; "" when cancelled. Tests replace it.
    virtual QString chooseDirectory(const QString& start);

    Ui::NrTimeRangeDialog* ui;

private slots:
    void on_pb_save_clicked();
    void on_pb_cancel_clicked();
    void on_pb_win_close_clicked();
    void on_pb_select_dir_clicked();
    void on_pb_start_time_plus_clicked();
    void on_pb_start_time_sub_clicked();
    void on_pb_end_time_plus_clicked();
    void on_pb_end_time_sub_clicked();
    void validate();

private:
    void stepTime(class QLineEdit* edit, bool forward);

    NrWindowAgent* m_agent;
    uint64_t m_firstUs = 0;
    uint64_t m_lastUs = UINT64_MAX;
};
