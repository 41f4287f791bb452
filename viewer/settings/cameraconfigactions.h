#pragma once

// The work of the four configuration buttons of the settings panels (Default, Refresh, Load,
// Export) on a camera of either kind: both DvsCamera and FusionCamera offer the same calls.
// The panels keep their own slots and signals and hand over to these functions.
//
// Threads: GUI thread only (the camera calls are thread-safe).
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QString>

#include <functional>
#include <string>

#include "Utility/nrmessagetype.h"
#include "norvale/CameraTool.h"
#include "norvale/CameraTypes.h"

class QWidget;

class CameraConfigActions {
    Q_DECLARE_TR_FUNCTIONS(CameraConfigActions)
public:
    using Tip = std::function<void(const QString& text, NrMessageType type)>;

    // File dialogs of the Load and Export buttons; "" when cancelled. A saved name without a
    // suffix gets ".json".
    static QString askFileToLoad(QWidget* parent);
    static QString askFileToExport(QWidget* parent);

    // Reads every parameter of every tool of the camera and hands it to the panel's
    // signalSetValue overload of its type. A value that cannot be read is skipped (logged):
    // no row is ever given a value the camera did not report.
    template <class Camera, class Panel>
    static void refresh(const Camera& camera, Panel* panel) {
        for (const norvale::ToolInfo& info : camera.getAllToolsInfo())
            if (const auto tool = camera.getTool(info.type))
                emitValues(*tool, panel);
    }

    // Applies the working configuration file of the camera's kind (the user's last settings) as the
    // camera is bound. Ethernet cameras and the 320 camera keep what they hold; a missing file or a
    // failed load is silent: the camera simply keeps its own settings.
    template <class Camera>
    static void applyWorkingFile(Camera& camera, const QString& path) {
        const norvale::CameraDescription& description = camera.getCameraDescription();
        if (description.linkType == norvale::LINK_ETHERNET || description.product == "NOrvale.320camera")
            return;
        if (QFile::exists(path))
            camera.loadCameraConfigParams(path.toLocal8Bit().toStdString());
    }

    // Load button: path from the dialog ("" = cancelled). Nothing without a path or a camera.
    template <class Camera>
    static void load(Camera* camera, const QString& path, const std::function<void()>& refreshRows, const Tip& tip) {
        if (path.isEmpty() || !camera)
            return;
        if (camera->loadCameraConfigParams(path.toLocal8Bit().toStdString())) {
            refreshRows();
            tip(tr("Camera parameters loaded successfully."), NrMessageSuccess);
        } else {
            tip(tr("Failed to load camera parameters."), NrMessageError);
        }
    }

    // Export button.
    template <class Camera>
    static void exportTo(const Camera* camera, const QString& path, const Tip& tip) {
        if (path.isEmpty() || !camera)
            return;
        if (camera->exportCameraConfigParams(path.toLocal8Bit().toStdString()))
            tip(tr("Camera parameters exported successfully."), NrMessageSuccess);
        else
            tip(tr("Failed to export camera parameters."), NrMessageError);
    }

    // Default button: applies the shipped default file.
    template <class Camera>
    static void loadDefault(Camera* camera, const QString& defaultPath, const std::function<void()>& refreshRows,
                            const Tip& tip) {
        if (camera && QFile::exists(defaultPath) &&
            camera->loadCameraConfigParams(defaultPath.toLocal8Bit().toStdString())) {
            refreshRows();
            tip(tr("Camera parameters loaded successfully."), NrMessageSuccess);
        } else {
            tip(tr("Camera parameters loaded failed."), NrMessageError);
        }
    }

private:
    template <class Panel>
    static void emitValues(const norvale::CameraTool& tool, Panel* panel) {
        for (const auto& [name, info] : tool.getAllParamInfo()) {
            switch (info.type) {
            case norvale::PARAM_INT: emitRead<int>(tool, name, panel); break;
            case norvale::PARAM_FLOAT: emitRead<float>(tool, name, panel); break;
            case norvale::PARAM_BOOL: emitRead<bool>(tool, name, panel); break;
            case norvale::PARAM_ENUM: emitRead<std::string>(tool, name, panel); break;
            default: break;
            }
        }
    }

    template <class T, class Panel>
    static void emitRead(const norvale::CameraTool& tool, const std::string& name, Panel* panel) {
        T value{};
        if (tool.getParam(name, value))
            emit panel->signalSetValue(name, value);
        else
            qWarning() << "Refresh: cannot read" << QString::fromStdString(name) << "of"
                       << QString::fromStdString(tool.getName()) << "; its row keeps its value.";
    }
};
