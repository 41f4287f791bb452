#include "tools/nrcutrawfile.h"

NrCutRawFile::NrCutRawFile(QWidget* parent) : NrTimeRangeDialog(parent) {
    setWindowTitle(tr("NrCutRawFile"));
    setTexts(tr("Cut Recording"), tr("Cut"), QStringLiteral("xxx.raw"));
}
