#include "settings/cameraconfigactions.h"

#include <QFileDialog>
#include <QFileInfo>

QString CameraConfigActions::askFileToLoad(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, tr("Select a JSON file"), QString(), tr("Json file (*.json)"));
}

QString CameraConfigActions::askFileToExport(QWidget* parent) {
    QString path = QFileDialog::getSaveFileName(parent, tr("Select a JSON file"), QString(), tr("Json file (*.json)"));
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    return path;
}
