#include "loadconfig.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "Utility/Utility.h"
#include "norvale/EventFrame.h"

namespace {

const char* const kOutputRawKey = "Setting/output_raw_file_path";
const char* const kInputRawKey = "Setting/input_raw_file_path";
const char* const kVideoKey = "Setting/video_save_path";
const char* const kLanguageKey = "Setting/language";
const char* const kTrigEnableKey = "Setting/dvs_trigger_in_rec_enable";
const char* const kTrigEdgeKey = "Setting/dvs_trigger_in_rec_edge_type";
const char* const kTrigBeforeKey = "Setting/dvs_before_tirgger_in_save_time";
const char* const kTrigAfterKey = "Setting/dvs_after_tirgger_in_save_time";
const char* const kColorKey = "Setting/dvs_color_type";
const char* const kDvsConfigKey = "Setting/dvs_camera_current_config_path";
const char* const kFusionConfigKey = "Setting/fusion_camera_current_config_path";

QString appDataLocation() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

// A folder we can create files in; probing beats permission bits (read-only mounts, ACLs).
bool isWritableFolder(const QString& path) {
    if (!QFileInfo(path).isDir())
        return false;
    QTemporaryFile probe(path + QStringLiteral("/.write_probe_XXXXXX"));
    return probe.open();
}

} // namespace

LoadConfig* LoadConfig::getGlobalConfig() {
    QCoreApplication::setApplicationName(QStringLiteral("NorvaleCamView"));
    QCoreApplication::setOrganizationName(QStringLiteral("Norvale"));
    const QString path = appDataLocation();
    static bool pathLogged = false;
    if (!pathLogged) {
        qDebug() << "app config path:" << path;
        pathLogged = true;
    }
    ensurePathExists(path);
    static LoadConfig instance(path + QStringLiteral("/config.ini"));
    instance.appDataPath = path;
    return &instance;
}

LoadConfig::LoadConfig(const QString& iniFilePath) {
    settings = new QSettings(iniFilePath, QSettings::IniFormat);

    outputRawFilePath = usableFolder(kOutputRawKey, false);
    inputRawFilePath = usableFolder(kInputRawKey, true);
    videoSavePath = usableFolder(kVideoKey, true);

    language = settings->value(kLanguageKey).toString();
    if (language != QLatin1String("en") && language != QLatin1String("zh"))
        language = QStringLiteral("en");

    const QString appDir = QCoreApplication::applicationDirPath();
    dvsDefaultConfigPath = appDir + QStringLiteral("/config/dvs_default_config.json");
    fusionDefaultConfigPath = appDir + QStringLiteral("/config/fusion_cmaera_default_config.json");
    dvsCameraCurrentConfigPath =
        workingCopy(kDvsConfigKey, dvsDefaultConfigPath, QStringLiteral("/dvs_default_config.json"));
    fusionCameraCurrentConfigPath = workingCopy(kFusionConfigKey, fusionDefaultConfigPath,
                                                QStringLiteral("/fusion_camera_default_config.json"));

    if (settings->contains(kTrigEnableKey)) {
        dvsTriggerInRecEnable = settings->value(kTrigEnableKey).toBool();
        dvsTriggerInRecEdgeType = settings->value(kTrigEdgeKey).toString();
        dvsBeforeTriggerInSaveTime = settings->value(kTrigBeforeKey).toUInt();
        dvsAfterTriggerInSaveTime = settings->value(kTrigAfterKey).toUInt();
    } else {
        dvsTriggerInRecEnable = false;
        dvsTriggerInRecEdgeType = QStringLiteral("Rising Edge");
        dvsBeforeTriggerInSaveTime = 0;
        dvsAfterTriggerInSaveTime = 0;
    }

    dvsColorType = settings->contains(kColorKey) ? settings->value(kColorKey).toString()
                                                 : QStringLiteral("Gray");
    updateGlobalColorType();
}

LoadConfig::~LoadConfig() {
    saveConfig();
    delete settings;
}

// A stored folder that still exists stays; otherwise "<application dir>/Data". When that cannot be
// created or written (a system-wide install), recordings would fail later, so the per-user data
// folder + "/Data" is used instead.
QString LoadConfig::usableFolder(const QString& key, bool reportFailure) {
    const QString stored = settings->value(key).toString();
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return stored;

    const QString appData = QCoreApplication::applicationDirPath() + QStringLiteral("/Data");
    if (!QDir(appData).exists() && !QDir().mkdir(appData) && reportFailure)
        qDebug() << "Create raw file path failed.";
    if (isWritableFolder(appData))
        return appData;

    const QString userData = appDataLocation() + QStringLiteral("/Data");
    if (!ensurePathExists(userData) && reportFailure)
        qDebug() << "Create raw file path failed.";
    qDebug() << "Application folder not writable, using" << userData << "for" << key;
    return userData;
}

QString LoadConfig::workingCopy(const QString& key, const QString& source, const QString& targetName) {
    const QString stored = settings->value(key).toString();
    if (!stored.isEmpty())
        return stored;
    const QString folder = appDataLocation() + QStringLiteral("/NorvaleConfig");
    if (!QDir(folder).exists())
        QDir().mkdir(folder);
    if (QFile::copy(source, folder + targetName))
        qDebug() << "File copied successfully to:" << folder;
    return folder + targetName;
}

void LoadConfig::updateGlobalColorType() {
    auto qcolor = [](norvale::FrameRgb c) { return QColor(c.r, c.g, c.b); };
    for (const norvale::EventColorScheme& s : norvale::kEventColorSchemes) {
        if (dvsColorType == QLatin1String(s.name)) {
            dvsOnColor = qcolor(s.on);
            dvsOffColor = qcolor(s.off);
            dvsBackgroundColor = qcolor(s.background);
            return;
        }
    }
}

norvale::FrameRgb toFrameRgb(const QColor& c) { return {uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())}; }

void LoadConfig::saveConfig() {
    updateGlobalColorType();
    settings->setValue(kOutputRawKey, outputRawFilePath);
    settings->setValue(kInputRawKey, inputRawFilePath);
    settings->setValue(kLanguageKey, language);
    settings->setValue(kVideoKey, videoSavePath);
    settings->setValue(kTrigEnableKey, dvsTriggerInRecEnable);
    settings->setValue(kTrigEdgeKey, dvsTriggerInRecEdgeType);
    settings->setValue(kTrigBeforeKey, dvsBeforeTriggerInSaveTime);
    settings->setValue(kTrigAfterKey, dvsAfterTriggerInSaveTime);
    settings->setValue(kColorKey, dvsColorType);
    settings->setValue(kDvsConfigKey, dvsCameraCurrentConfigPath);
    // Kept too, so a fusion configuration chosen at run time survives a restart.
    settings->setValue(kFusionConfigKey, fusionCameraCurrentConfigPath);
    settings->sync();
    qDebug() << "Write to config file.";
}

bool syncJsonFile(const QString& filePath, const QString& rootKey, const QString& subKey,
                  const QJsonValue& value) {
    QFile in(filePath);
    if (!in.open(QIODevice::ReadOnly)) {
        qWarning() << "无法打开 JSON 文件进行读取:" << filePath;
        return false;
    }
    const QByteArray bytes = in.readAll();
    in.close();

    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning() << "JSON 解析失败:" << error.errorString() << "at offset" << error.offset;
        return false;
    }
    if (!doc.isObject()) {
        qWarning() << "JSON 根节点不是对象";
        return false;
    }
    QJsonObject root = doc.object();
    if (!root.contains(rootKey)) {
        qWarning() << "根字段不存在，将自动创建:" << rootKey;
        root.insert(rootKey, QJsonObject());
    }
    if (!root.value(rootKey).isObject()) {
        qWarning() << (QStringLiteral("字段 '") + rootKey + QStringLiteral("' 不是一个 JSON 对象，无法写入子键"));
        return false;
    }
    QJsonObject member = root.value(rootKey).toObject();
    member.insert(subKey, value);
    root.insert(rootKey, member);
    doc.setObject(root);

    // Write beside the file and rename over it, so a crash or a full disk never leaves half a file.
    QSaveFile out(filePath);
    if (!out.open(QIODevice::WriteOnly)) {
        qWarning() << "无法打开 JSON 文件进行写入:" << filePath;
        return false;
    }
    const QByteArray data = doc.toJson(QJsonDocument::Indented);
    if (out.write(data) != data.size() || !out.commit()) {
        qWarning() << "无法打开 JSON 文件进行写入:" << filePath << out.errorString();
        return false;
    }
    qDebug() << "Update JSON: [" << rootKey << "][" << subKey << "] =" << value;
    return true;
}
