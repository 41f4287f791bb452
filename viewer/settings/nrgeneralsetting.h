#pragma once

// The "General Settings" dialog: recording and video folders, the trigger-in recording and the
// event colours, edited in place and written to the configuration store on Save only.
//
// Save checks both folders first: a missing folder is offered for creation; a folder that cannot
// be created or written keeps the dialog open with the field marked red and the reason shown.
// Edge and colour names are shown translated and stored as the store's English names.
//
// Threads: GUI thread only.
#include <QDialog>

#include <cstdint>

namespace Ui {
class NrGeneralSetting;
}
class LoadConfig;
class NrWindowAgent;
class QLineEdit;

class NrGeneralSetting : public QDialog {
    Q_OBJECT
public:
    explicit NrGeneralSetting(QWidget* parent = nullptr);
    ~NrGeneralSetting() override;

signals:
    void signalTriggerInSaveFileParamChanged();

protected:
    // Asks whether to create a missing folder. Tests replace these two.
    virtual bool confirmCreateFolder(const QString& folder);
    virtual QString chooseDirectory(const QString& start);

private slots:
    void on_pb_win_close_clicked();
    void on_pb_cancel_clicked();
    void on_pb_save_clicked();
    void on_pb_select_dir_clicked();
    void on_pb_select_video_save_path_clicked();
    void on_pb_add_trigger_in_before_time_clicked();
    void on_pb_sub_trigger_in_before_time_clicked();
    void on_pb_add_trigger_in_after_time_clicked();
    void on_pb_sub_trigger_in_after_time_clicked();
    void on_lw_general_setting_items_currentRowChanged(int currentRow);

private:
    // "" when the folder is usable (created on request), else the reason to show.
    QString checkFolder(const QString& folder);
    bool checkFolderField(QLineEdit* edit);
    void markField(QLineEdit* edit, bool invalid);
    static uint32_t secondsOf(const QLineEdit* edit);
    static void stepSeconds(QLineEdit* edit, int delta);

    Ui::NrGeneralSetting* ui;
    NrWindowAgent* m_agent;
    LoadConfig* config;
};
