#include "tools/nrexportvideoui.h"

#include "loadconfig.h"

NrExportVideoUI::NrExportVideoUI(QWidget* parent) : NrTimeRangeDialog(parent) {
    setWindowTitle(tr("NrExportVideoUI"));
    setTexts(tr("Export a video"), tr("Export"), QStringLiteral("xxx.mp4"));
}

QString NrExportVideoUI::defaultSaveFolder(const LoadConfig& config) {
    return config.videoSavePath;
}
