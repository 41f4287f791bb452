#pragma once

// Asks for the time range, folder and file name of a raw-file cut. Filled by the main window,
// read back after exec() returned accepted.
//
// Threads: GUI thread only.
#include "tools/nrtimerangedialog.h"

class LoadConfig;

class NrCutRawFile : public NrTimeRangeDialog {
    Q_OBJECT
public:
    explicit NrCutRawFile(QWidget* parent = nullptr);

    // A cut is a recording: it goes to the recording folder, beside the camera's own recordings.
    static QString defaultSaveFolder(const LoadConfig& config);
};
