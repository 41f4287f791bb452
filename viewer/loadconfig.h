#pragma once

// The viewer's store of user settings ("config.ini" in the per-user data folder) and the writer of
// single values into camera configuration JSON files.
//
// Threads: created and written on the GUI thread only. Processing threads read the colour, path and
// trigger-in fields without a lock; those fields change only from dialogs on the GUI thread.
#include <QColor>
#include <QJsonValue>
#include <QString>

#include <cstdint>

#include "norvale/EventFrame.h"

class QSettings;

class LoadConfig {
public:
    // The one instance; also sets the application identity and makes sure the data folder exists.
    static LoadConfig* getGlobalConfig();

    explicit LoadConfig(const QString& iniFilePath);
    ~LoadConfig();
    LoadConfig(const LoadConfig&) = delete;
    LoadConfig& operator=(const LoadConfig&) = delete;

    // Recomputes the three DVS colours from dvsColorType, a scheme name of norvale::kEventColorSchemes;
    // an unknown name leaves them as they are.
    void updateGlobalColorType();
    // Writes the persisted fields to config.ini.
    void saveConfig();

    QString appDataPath;
    QString outputRawFilePath;
    QString inputRawFilePath;
    QString videoSavePath;
    QString language;
    bool dvsTriggerInRecEnable = false;
    QString dvsTriggerInRecEdgeType;
    uint32_t dvsBeforeTriggerInSaveTime = 0;
    uint32_t dvsAfterTriggerInSaveTime = 0;
    QString dvsColorType;
    QColor dvsOnColor;
    QColor dvsOffColor;
    QColor dvsBackgroundColor;
    QString dvsDefaultConfigPath;
    QString fusionDefaultConfigPath;
    QString dvsCameraCurrentConfigPath;
    QString fusionCameraCurrentConfigPath;
    QSettings* settings = nullptr;

private:
    QString usableFolder(const QString& key, bool reportFailure);
    QString workingCopy(const QString& key, const QString& source, const QString& targetName);
};

// A DVS colour as event frames take it.
norvale::FrameRgb toFrameRgb(const QColor& c);

// Sets root[rootKey][subKey] = value in a JSON file. False, with a warning and the file unchanged,
// when the file cannot be read, parsed or written or root[rootKey] is not an object.
bool syncJsonFile(const QString& filePath, const QString& rootKey, const QString& subKey,
                  const QJsonValue& value);
