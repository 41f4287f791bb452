#pragma once

// Asks for the time range, folder and file name of a video export. Filled by the main window,
// read back after exec() returned accepted.
//
// Threads: GUI thread only.
#include "tools/nrtimerangedialog.h"

class LoadConfig;

class NrExportVideoUI : public NrTimeRangeDialog {
    Q_OBJECT
public:
    explicit NrExportVideoUI(QWidget* parent = nullptr);

    // Videos go to the video folder.
    static QString defaultSaveFolder(const LoadConfig& config);
};
