#include "tools/nrexportvideoui.h"

NrExportVideoUI::NrExportVideoUI(QWidget* parent) : NrTimeRangeDialog(parent) {
    setWindowTitle(tr("NrExportVideoUI"));
    setTexts(tr("Export a video"), tr("Export"), QStringLiteral("xxx.mp4"));
}
