#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "loadconfig.h"

namespace {

QString appDir() { return QCoreApplication::applicationDirPath(); }
QString userData() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }

void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The shipped camera files come with the simulated cameras; the tests ship their own.
void placeShippedFiles() {
    writeFile(appDir() + "/config/dvs_default_config.json", R"({"biases": {"bias_diff_on": 10}})");
    writeFile(appDir() + "/config/fusion_cmaera_default_config.json", R"({"aps": {"exposure": 5000}})");
}

class ConfigStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        QDir().mkpath(userData());
        placeShippedFiles();
        ini = tmp.path() + "/config.ini";
    }
    void writeIni(const QMap<QString, QVariant>& values) {
        QSettings s(ini, QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            s.setValue(it.key(), it.value());
        s.sync();
    }
    QTemporaryDir tmp;
    QString ini;
};

} // namespace

TEST_F(ConfigStore, FirstStartGivesDefaultsAndWorkingCopies) {
    LoadConfig config(ini);
    const QString data = appDir() + "/Data";
    EXPECT_EQ(config.outputRawFilePath, data);
    EXPECT_EQ(config.inputRawFilePath, data);
    EXPECT_EQ(config.videoSavePath, data);
    EXPECT_TRUE(QFileInfo(data).isDir());
    EXPECT_EQ(config.language, "en");
    EXPECT_FALSE(config.dvsTriggerInRecEnable);
    EXPECT_EQ(config.dvsTriggerInRecEdgeType, "Rising Edge");
    EXPECT_EQ(config.dvsBeforeTriggerInSaveTime, 0u);
    EXPECT_EQ(config.dvsAfterTriggerInSaveTime, 0u);
    EXPECT_EQ(config.dvsColorType, "Gray");
    EXPECT_EQ(config.dvsOnColor, QColor(255, 255, 255));
    EXPECT_EQ(config.dvsOffColor, QColor(0, 0, 0));
    EXPECT_EQ(config.dvsBackgroundColor, QColor(112, 112, 112));
    EXPECT_EQ(config.dvsDefaultConfigPath, appDir() + "/config/dvs_default_config.json");
    EXPECT_EQ(config.fusionDefaultConfigPath, appDir() + "/config/fusion_cmaera_default_config.json");

    const QString folder = userData() + "/NorvaleConfig";
    EXPECT_EQ(config.dvsCameraCurrentConfigPath, folder + "/dvs_default_config.json");
    EXPECT_EQ(config.fusionCameraCurrentConfigPath, folder + "/fusion_camera_default_config.json");
    EXPECT_EQ(readFile(config.dvsCameraCurrentConfigPath), readFile(config.dvsDefaultConfigPath));
    EXPECT_EQ(readFile(config.fusionCameraCurrentConfigPath), readFile(config.fusionDefaultConfigPath));
    // Nothing is written before saveConfig.
    EXPECT_FALSE(QFile::exists(ini));
}

TEST_F(ConfigStore, ExistingWorkingCopyIsNotOverwritten) {
    const QString copy = userData() + "/NorvaleConfig/dvs_default_config.json";
    writeFile(copy, R"({"biases": {"bias_diff_on": 99}})");
    LoadConfig config(ini);
    EXPECT_EQ(config.dvsCameraCurrentConfigPath, copy);
    EXPECT_EQ(readFile(copy), QByteArray(R"({"biases": {"bias_diff_on": 99}})"));
}

TEST_F(ConfigStore, RepairsBadValues) {
    writeIni({{"Setting/language", "ZH"},
              {"Setting/output_raw_file_path", tmp.path() + "/gone"},
              {"Setting/input_raw_file_path", ""},
              {"Setting/video_save_path", tmp.path()},
              {"Setting/dvs_color_type", "Purple"}});
    LoadConfig config(ini);
    EXPECT_EQ(config.language, "en");
    EXPECT_EQ(config.outputRawFilePath, appDir() + "/Data");
    EXPECT_EQ(config.inputRawFilePath, appDir() + "/Data");
    EXPECT_EQ(config.videoSavePath, tmp.path());
    EXPECT_EQ(config.dvsColorType, "Purple");
    // An unknown scheme leaves the colours unset.
    EXPECT_FALSE(config.dvsOnColor.isValid());
    EXPECT_FALSE(config.dvsOffColor.isValid());
    EXPECT_FALSE(config.dvsBackgroundColor.isValid());
}

TEST_F(ConfigStore, ReadsStoredValuesAndColourSchemes) {
    writeIni({{"Setting/language", "zh"},
              {"Setting/dvs_trigger_in_rec_enable", true},
              {"Setting/dvs_trigger_in_rec_edge_type", "Falling Edge"},
              {"Setting/dvs_before_tirgger_in_save_time", 3},
              {"Setting/dvs_after_tirgger_in_save_time", 10},
              {"Setting/dvs_color_type", "Dark"},
              {"Setting/dvs_camera_current_config_path", "/somewhere/dvs.json"}});
    LoadConfig config(ini);
    EXPECT_EQ(config.language, "zh");
    EXPECT_TRUE(config.dvsTriggerInRecEnable);
    EXPECT_EQ(config.dvsTriggerInRecEdgeType, "Falling Edge");
    EXPECT_EQ(config.dvsBeforeTriggerInSaveTime, 3u);
    EXPECT_EQ(config.dvsAfterTriggerInSaveTime, 10u);
    EXPECT_EQ(config.dvsCameraCurrentConfigPath, "/somewhere/dvs.json");
    EXPECT_EQ(config.dvsOffColor, QColor(64, 126, 200));
    EXPECT_EQ(config.dvsBackgroundColor, QColor(30, 37, 52));

    config.dvsColorType = "Light";
    config.updateGlobalColorType();
    EXPECT_EQ(config.dvsOnColor, QColor(0, 0, 0));
    EXPECT_EQ(config.dvsOffColor, QColor(64, 126, 201));
    EXPECT_EQ(config.dvsBackgroundColor, QColor(255, 255, 255));
    config.dvsColorType = "redblue"; // names are case-sensitive
    config.updateGlobalColorType();
    EXPECT_EQ(config.dvsOnColor, QColor(0, 0, 0));
    config.dvsColorType = "RedGreen";
    config.updateGlobalColorType();
    EXPECT_EQ(config.dvsOffColor, QColor(0, 255, 0));
}

TEST_F(ConfigStore, SaveWritesEveryKeyAndSurvivesARestart) {
    {
        LoadConfig config(ini);
        config.language = "zh";
        config.outputRawFilePath = tmp.path();
        config.dvsTriggerInRecEnable = true;
        config.dvsTriggerInRecEdgeType = "Falling Edge";
        config.dvsBeforeTriggerInSaveTime = 2;
        config.dvsAfterTriggerInSaveTime = 7;
        config.dvsColorType = "RedBlue";
        config.fusionCameraCurrentConfigPath = tmp.path() + "/my_fusion.json";
        config.saveConfig();
        EXPECT_EQ(config.dvsOnColor, QColor(255, 0, 0)); // saveConfig refreshes the colours
    }
    QSettings s(ini, QSettings::IniFormat);
    for (const char* key :
         {"output_raw_file_path", "input_raw_file_path", "language", "video_save_path",
          "dvs_trigger_in_rec_enable", "dvs_trigger_in_rec_edge_type", "dvs_before_tirgger_in_save_time",
          "dvs_after_tirgger_in_save_time", "dvs_color_type", "dvs_camera_current_config_path",
          "fusion_camera_current_config_path"})
        EXPECT_TRUE(s.contains(QString("Setting/") + key)) << key;
    EXPECT_EQ(s.value("Setting/language").toString(), "zh");

    LoadConfig again(ini);
    EXPECT_EQ(again.language, "zh");
    EXPECT_EQ(again.outputRawFilePath, tmp.path());
    EXPECT_TRUE(again.dvsTriggerInRecEnable);
    EXPECT_EQ(again.dvsTriggerInRecEdgeType, "Falling Edge");
    EXPECT_EQ(again.dvsBeforeTriggerInSaveTime, 2u);
    EXPECT_EQ(again.dvsAfterTriggerInSaveTime, 7u);
    EXPECT_EQ(again.dvsColorType, "RedBlue");
    EXPECT_EQ(again.fusionCameraCurrentConfigPath, tmp.path() + "/my_fusion.json");
}

TEST_F(ConfigStore, GlobalConfigLivesInTheUserDataFolder) {
    LoadConfig* a = LoadConfig::getGlobalConfig();
    LoadConfig* b = LoadConfig::getGlobalConfig();
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->appDataPath, userData());
    EXPECT_TRUE(userData().endsWith("/Norvale/NorvaleCamView"));
    EXPECT_EQ(a->settings->fileName(), userData() + "/config.ini");
}

// syncJsonFile

class SyncJson : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        path = tmp.path() + "/camera.json";
    }
    QTemporaryDir tmp;
    QString path;
};

TEST_F(SyncJson, ReplacesAndAddsMembersKeepingTheRest) {
    writeFile(path, R"({"biases": {"bias_diff_on": 10, "bias_fo": 3}, "roi": {"x": 1}})");
    ASSERT_TRUE(syncJsonFile(path, "biases", "bias_diff_on", 25));
    ASSERT_TRUE(syncJsonFile(path, "trigger_in", "enable", true));
    const QJsonObject root = QJsonDocument::fromJson(readFile(path)).object();
    EXPECT_EQ(root["biases"].toObject()["bias_diff_on"].toInt(), 25);
    EXPECT_EQ(root["biases"].toObject()["bias_fo"].toInt(), 3);
    EXPECT_EQ(root["roi"].toObject()["x"].toInt(), 1);
    EXPECT_EQ(root["trigger_in"].toObject(), QJsonObject({{"enable", true}}));
    // The atomic write leaves nothing beside the file.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"camera.json"});
}

TEST_F(SyncJson, FailuresLeaveTheFileUnchanged) {
    EXPECT_FALSE(syncJsonFile(tmp.path() + "/missing.json", "a", "b", 1));
    EXPECT_FALSE(QFile::exists(tmp.path() + "/missing.json"));

    for (const QByteArray& content : {QByteArray(R"({"biases": {"x": 1)"), QByteArray("[1, 2, 3]"),
                                      QByteArray(R"({"biases": 7, "other": {}})"),
                                      QByteArray(R"({"biases": [1]})"), QByteArray()}) {
        writeFile(path, content);
        EXPECT_FALSE(syncJsonFile(path, "biases", "bias_diff_on", 1)) << content.constData();
        EXPECT_EQ(readFile(path), content);
    }
}
