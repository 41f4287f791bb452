#pragma once

// The lower-left toast: icon, title and frame colour by message kind, the message, and an
// "Open Dir" button when a folder is given. It deletes itself 5 s after it was created; the close
// button only hides it earlier.
//
// Threads: GUI thread only.
#include <QWidget>

#include "Utility/nrmessagetype.h"

namespace Ui {
class NrFilePathReminderForm;
}

class NrFilePathReminderForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLifetimeMs = 5000;

    NrFilePathReminderForm(const QString& tips, NrMessageType type, const QString& dirPath,
                           QWidget* parent = nullptr);
    ~NrFilePathReminderForm() override;

private slots:
    void onTimeupDestroy();
    void on_pb_open_dir_clicked();
    void on_pb_close_clicked();

private:
    Ui::NrFilePathReminderForm* ui;
    QString dirPath;
};
