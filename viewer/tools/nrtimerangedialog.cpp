#include "tools/nrtimerangedialog.h"

#include <QFileDialog>
#include <QStyle>

#include "ui_nrtimerangedialog.h"
#include "widgets/nrstylesheet.h"
#include "widgets/nrwindowagent.h"

namespace {

bool parseTime(const QString& text, uint64_t* value) {
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok, 10);
    if (ok && value)
        *value = v;
    return ok;
}

} // namespace

NrTimeRangeDialog::NrTimeRangeDialog(QWidget* parent) : QDialog(parent), ui(new Ui::NrTimeRangeDialog) {
    ui->setupUi(this);
    m_agent = new NrWindowAgent(this);
    m_agent->setup(this);
    m_agent->setTitleBar(ui->widget_title_bar);
    m_agent->setHitTestVisible(ui->pb_win_close);
    setAttribute(Qt::WA_TranslucentBackground);
    for (QLineEdit* edit : {ui->le_start_time, ui->le_end_time, ui->le_save_file_path, ui->le_file_name})
        connect(edit, &QLineEdit::textChanged, this, &NrTimeRangeDialog::validate);
    validate();
}

NrTimeRangeDialog::~NrTimeRangeDialog() {
    delete ui;
}

void NrTimeRangeDialog::setTexts(const QString& title, const QString& confirm, const QString& defaultName) {
    ui->lb_title->setText(title);
    ui->pb_save->setText(confirm);
    ui->le_file_name->setText(defaultName);
}

void NrTimeRangeDialog::setStartTime(uint64_t us) {
    ui->le_start_time->setText(QString::number(us));
}

void NrTimeRangeDialog::setEndTime(uint64_t us) {
    ui->le_end_time->setText(QString::number(us));
}

void NrTimeRangeDialog::setSaveFilePath(const QString& folder) {
    ui->le_save_file_path->setText(folder);
}

void NrTimeRangeDialog::setSaveFileName(const QString& name) {
    ui->le_file_name->setText(name);
}

void NrTimeRangeDialog::setTimeBounds(uint64_t first, uint64_t last) {
    m_firstUs = first;
    m_lastUs = std::max(first, last);
}

uint64_t NrTimeRangeDialog::getStartTime() const {
    return ui->le_start_time->text().toULongLong(nullptr, 10);
}

uint64_t NrTimeRangeDialog::getEndTime() const {
    return ui->le_end_time->text().toULongLong(nullptr, 10);
}

QString NrTimeRangeDialog::getSaveFilePath() const {
    return ui->le_save_file_path->text();
}

QString NrTimeRangeDialog::getSaveFileFullPath() const {
    return ui->le_save_file_path->text() + QLatin1Char('/') + ui->le_file_name->text();
}

bool NrTimeRangeDialog::isInputValid() const {
    return ui->pb_save->isEnabled();
}

void NrTimeRangeDialog::validate() {
    uint64_t start = 0;
    uint64_t end = 0;
    const bool startOk = parseTime(ui->le_start_time->text(), &start);
    const bool endOk = parseTime(ui->le_end_time->text(), &end);
    const bool orderOk = !startOk || !endOk || end > start;
    const bool folderOk = !ui->le_save_file_path->text().trimmed().isEmpty();
    const bool nameOk = !ui->le_file_name->text().trimmed().isEmpty();
    setStyleFlag(ui->frame_start_time, "invalid", !startOk);
    setStyleFlag(ui->frame_end_time, "invalid", !endOk || !orderOk);
    setStyleFlag(ui->frame_save_file_path, "invalid", !folderOk);
    setStyleFlag(ui->frame_file_name, "invalid", !nameOk);
    ui->pb_save->setEnabled(startOk && endOk && orderOk && folderOk && nameOk);
}

void NrTimeRangeDialog::stepTime(QLineEdit* edit, bool forward) {
    uint64_t t = 0;
    if (!parseTime(edit->text(), &t))
        return;
    if (forward)
        t = (t >= m_lastUs || m_lastUs - t < kFrameStepUs) ? m_lastUs : t + kFrameStepUs;
    else
        t = (t <= m_firstUs || t - m_firstUs < kFrameStepUs) ? m_firstUs : t - kFrameStepUs;
    edit->setText(QString::number(t));
}

void NrTimeRangeDialog::on_pb_start_time_plus_clicked() {
    stepTime(ui->le_start_time, true);
}

void NrTimeRangeDialog::on_pb_start_time_sub_clicked() {
    stepTime(ui->le_start_time, false);
}

void NrTimeRangeDialog::on_pb_end_time_plus_clicked() {
    stepTime(ui->le_end_time, true);
}

void NrTimeRangeDialog::on_pb_end_time_sub_clicked() {
    stepTime(ui->le_end_time, false);
}

void NrTimeRangeDialog::on_pb_save_clicked() {
    if (isInputValid())
        accept();
}

void NrTimeRangeDialog::on_pb_cancel_clicked() {
    close();
}

void NrTimeRangeDialog::on_pb_win_close_clicked() {
    close();
}

QString NrTimeRangeDialog::chooseDirectory(const QString& start) {
    return QFileDialog::getExistingDirectory(this, tr("Select Directory"), start,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

void NrTimeRangeDialog::on_pb_select_dir_clicked() {
    const QString dir = chooseDirectory(ui->le_save_file_path->text());
    if (!dir.isEmpty())
        ui->le_save_file_path->setText(dir);
}
