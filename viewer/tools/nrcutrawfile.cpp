#include "tools/nrcutrawfile.h"

#include "loadconfig.h"

NrCutRawFile::NrCutRawFile(QWidget* parent) : NrTimeRangeDialog(parent) {
    setWindowTitle(tr("NrCutRawFile"));
    setTexts(tr("Cut Recording"), tr("Cut"), QStringLiteral("xxx.raw"));
}

QString NrCutRawFile::defaultSaveFolder(const LoadConfig& config) {
    return config.outputRawFilePath;
}
