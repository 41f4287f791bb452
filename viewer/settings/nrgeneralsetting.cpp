#include "settings/nrgeneralsetting.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStyle>
#include <QTabBar>
#include <QTemporaryFile>

#include <limits>

#include "loadconfig.h"
#include "ui_nrgeneralsetting.h"
#include "widgets/nrcombobox.h"
#include "widgets/nrcomboboxbase.h"
#include "widgets/nrmessagebox.h"
#include "widgets/nrwindowagent.h"

namespace {

void selectByData(QComboBox* box, const QString& value) {
    const int index = box->findData(value);
    if (index >= 0)
        box->setCurrentIndex(index);
}

} // namespace

NrGeneralSetting::NrGeneralSetting(QWidget* parent) : QDialog(parent), ui(new Ui::NrGeneralSetting) {
    ui->setupUi(this);
    ui->tw_settings->tabBar()->hide();
    m_agent = new NrWindowAgent(this);
    m_agent->setup(this);
    m_agent->setTitleBar(ui->widget_title_bar);
    m_agent->setHitTestVisible(ui->pb_win_close);
    setAttribute(Qt::WA_TranslucentBackground);
    ui->lb_path_error->hide();

    config = LoadConfig::getGlobalConfig();
    ui->le_default_file_path->setText(config->outputRawFilePath);
    ui->le_default_video_file_path->setText(config->videoSavePath);

    QComboBox* edge = ui->cb_trigger_in_edge->getNrComboBoxBase();
    edge->addItem(tr("Rising Edge"), QStringLiteral("Rising Edge"));
    edge->addItem(tr("Falling Edge"), QStringLiteral("Falling Edge"));
    edge->setCurrentIndex(config->dvsTriggerInRecEdgeType == QLatin1String("Rising Edge") ? 0 : 1);
    ui->sb_trigger_in_rec_enable->setChecked(config->dvsTriggerInRecEnable);
    ui->le_trigger_in_before_time->setText(QString::number(config->dvsBeforeTriggerInSaveTime));
    ui->le_trigger_in_after_time->setText(QString::number(config->dvsAfterTriggerInSaveTime));

    QComboBox* theme = ui->widget_combobox_color_theme->getNrComboBoxBase();
    theme->addItem(tr("Gray"), QStringLiteral("Gray"));
    theme->addItem(tr("Dark"), QStringLiteral("Dark"));
    theme->addItem(tr("RedBlue"), QStringLiteral("RedBlue"));
    theme->addItem(tr("RedGreen"), QStringLiteral("RedGreen"));
    theme->addItem(tr("Light"), QStringLiteral("Light"));
    selectByData(theme, config->dvsColorType);
    ui->lw_general_setting_items->setCurrentRow(0);

    for (QLineEdit* edit : {ui->le_default_file_path, ui->le_default_video_file_path})
        connect(edit, &QLineEdit::textEdited, this, [this, edit] {
            markField(edit, false);
            ui->lb_path_error->hide();
        });
}

NrGeneralSetting::~NrGeneralSetting() {
    delete ui;
}

void NrGeneralSetting::on_lw_general_setting_items_currentRowChanged(int currentRow) {
    ui->tw_settings->setCurrentIndex(currentRow);
}

void NrGeneralSetting::on_pb_win_close_clicked() {
    close();
}

void NrGeneralSetting::on_pb_cancel_clicked() {
    close();
}

bool NrGeneralSetting::confirmCreateFolder(const QString& folder) {
    NRMessageBox box(tr("The folder \"%1\" does not exist. Create it?").arg(folder), tr("Tips"), tr("Create"),
                     tr("Back"));
    return box.exec() != 0;
}

QString NrGeneralSetting::chooseDirectory(const QString& start) {
    return QFileDialog::getExistingDirectory(this, tr("Select Directory"), start,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

QString NrGeneralSetting::checkFolder(const QString& folder) {
    if (folder.trimmed().isEmpty())
        return tr("Enter a folder.");
    QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        return tr("\"%1\" is a file, not a folder.").arg(folder);
    if (!info.exists()) {
        if (!confirmCreateFolder(folder))
            return tr("The folder \"%1\" does not exist.").arg(folder);
        if (!QDir().mkpath(folder))
            return tr("The folder \"%1\" cannot be created.").arg(folder);
    }
    // Permission bits do not tell the whole story (read-only mounts, ownership): try a file.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".norvale-write-test-XXXXXX")));
    if (!probe.open())
        return tr("The folder \"%1\" cannot be written.").arg(folder);
    return QString();
}

void NrGeneralSetting::markField(QLineEdit* edit, bool invalid) {
    edit->setProperty("invalid", invalid);
    edit->style()->unpolish(edit);
    edit->style()->polish(edit);
}

bool NrGeneralSetting::checkFolderField(QLineEdit* edit) {
    const QString reason = checkFolder(edit->text());
    markField(edit, !reason.isEmpty());
    if (reason.isEmpty())
        return true;
    ui->lw_general_setting_items->setCurrentRow(0);
    ui->lb_path_error->setText(reason);
    ui->lb_path_error->show();
    edit->setFocus();
    return false;
}

uint32_t NrGeneralSetting::secondsOf(const QLineEdit* edit) {
    return edit->text().toUInt(nullptr, 10); // not a number: 0
}

void NrGeneralSetting::stepSeconds(QLineEdit* edit, int delta) {
    const uint32_t v = secondsOf(edit);
    if (delta > 0 && v == std::numeric_limits<uint32_t>::max())
        return; // the store holds no more
    if (delta < 0 && v == 0)
        return;
    edit->setText(QString::number(delta > 0 ? v + 1 : v - 1));
}

void NrGeneralSetting::on_pb_save_clicked() {
    ui->lb_path_error->hide();
    if (!checkFolderField(ui->le_default_file_path) || !checkFolderField(ui->le_default_video_file_path))
        return;
    config->outputRawFilePath = ui->le_default_file_path->text();
    config->videoSavePath = ui->le_default_video_file_path->text();
    config->dvsTriggerInRecEnable = ui->sb_trigger_in_rec_enable->isChecked();
    config->dvsTriggerInRecEdgeType = ui->cb_trigger_in_edge->getNrComboBoxBase()->currentData().toString();
    config->dvsBeforeTriggerInSaveTime = secondsOf(ui->le_trigger_in_before_time);
    config->dvsAfterTriggerInSaveTime = secondsOf(ui->le_trigger_in_after_time);
    config->dvsColorType = ui->widget_combobox_color_theme->getNrComboBoxBase()->currentData().toString();
    config->saveConfig();
    emit signalTriggerInSaveFileParamChanged();
    close();
}

void NrGeneralSetting::on_pb_select_dir_clicked() {
    const QString dir = chooseDirectory(ui->le_default_file_path->text());
    if (!dir.isEmpty()) {
        ui->le_default_file_path->setText(dir);
        markField(ui->le_default_file_path, false);
    }
}

void NrGeneralSetting::on_pb_select_video_save_path_clicked() {
    const QString dir = chooseDirectory(ui->le_default_video_file_path->text());
    if (!dir.isEmpty()) {
        ui->le_default_video_file_path->setText(dir);
        markField(ui->le_default_video_file_path, false);
    }
}

void NrGeneralSetting::on_pb_add_trigger_in_before_time_clicked() {
    stepSeconds(ui->le_trigger_in_before_time, +1);
}

void NrGeneralSetting::on_pb_sub_trigger_in_before_time_clicked() {
    stepSeconds(ui->le_trigger_in_before_time, -1);
}

void NrGeneralSetting::on_pb_add_trigger_in_after_time_clicked() {
    stepSeconds(ui->le_trigger_in_after_time, +1);
}

void NrGeneralSetting::on_pb_sub_trigger_in_after_time_clicked() {
    stepSeconds(ui->le_trigger_in_after_time, -1);
}
