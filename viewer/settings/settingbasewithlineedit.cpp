#include "settings/settingbasewithlineedit.h"

#include "Utility/Utility.h"
#include "ui_settingbasewithlineedit.h"
#include "widgets/nrtooltip.h"

SettingBaseWithLineEdit::SettingBaseWithLineEdit(std::string name, QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingBaseWithLineEdit) {
    ui->setupUi(this);
    ui->lb_set_item_name->setText(QString::fromStdString(convertToUppercase(name)));
    ui->lb_set_item_name->adjustSize();
    ui->widget_with_slider->hide();
    ui->horizontalSlider->setFocusProxy(ui->le_nr_line_edit);
    connect(ui->le_nr_line_edit, &NrLineEditBase::signalMouseHoverd, ui->widget_with_slider, &QWidget::setVisible);
    connect(ui->le_nr_line_edit, &QLineEdit::editingFinished, this, [this] {
        bool ok = false;
        const int v = ui->le_nr_line_edit->text().toInt(&ok, 10);
        if (ok)
            ui->horizontalSlider->setValue(v);
        else
            ui->le_nr_line_edit->setBorderColor(QStringLiteral("#FF6058"));
    });
    minimum = ui->horizontalSlider->minimum();
    maximum = ui->horizontalSlider->maximum();
}

SettingBaseWithLineEdit::~SettingBaseWithLineEdit() {
    // The line edit loses focus while the children are destroyed; its signals must not reach us then.
    ui->le_nr_line_edit->disconnect();
    ui->horizontalSlider->disconnect();
    delete ui;
}

std::string SettingBaseWithLineEdit::name() const {
    return convertToLowercase(ui->lb_set_item_name->text().toStdString());
}

void SettingBaseWithLineEdit::setSliderBarValueRange(int min, int max) {
    ui->horizontalSlider->setRange(min, max);
    minimum = min;
    maximum = max;
}

void SettingBaseWithLineEdit::setCurrentValue(int value) {
    if (value < minimum || value > maximum)
        return;
    ui->le_nr_line_edit->setText(QString::number(value));
    ui->horizontalSlider->setValue(value);
}

void SettingBaseWithLineEdit::setValueUnit(const std::string& unit) {
    if (unit.empty() || unit == " ")
        return;
    ui->lb_unit->setText(QStringLiteral("(") + QString::fromStdString(unit) + QStringLiteral(")"));
}

void SettingBaseWithLineEdit::setToolTip(const QString& text) {
    auto* tip = new NrToolTip(text, 2, this);
    tip->anchorTarget(this);
}

void SettingBaseWithLineEdit::setParamOptCallback(std::function<bool(std::string, int)> callback) {
    paramOptCallback = std::move(callback);
}

void SettingBaseWithLineEdit::setShowStatus(CompStatus status) {
    ui->le_nr_line_edit->setBorderColor(status == CompStatusError ? QStringLiteral("#FF6058")
                                                                  : QStringLiteral("#ACACAC"));
}

void SettingBaseWithLineEdit::slotItemValueChanged(std::string itemName, int value) {
    if (itemName == name())
        ui->le_nr_line_edit->setText(QString::number(value));
}

void SettingBaseWithLineEdit::slotItemValueChanged(std::string itemName, float value) {
    if (itemName == name())
        ui->le_nr_line_edit->setText(QString::number(value, 'g', 6));
}

void SettingBaseWithLineEdit::on_horizontalSlider_valueChanged(int value) {
    ui->le_nr_line_edit->setText(QString::number(value));
    const std::string key = name();
    emit signalItemValueChanged(key, value);
    if (paramOptCallback)
        paramOptCallback(key, value);
}

void SettingBaseWithLineEdit::on_le_nr_line_edit_textChanged(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok) {
        ui->le_nr_line_edit->setBorderColor(QStringLiteral("#FF6058"));
        return;
    }
    ui->horizontalSlider->setValue(v);
    if (ui->le_nr_line_edit->hasFocus())
        ui->le_nr_line_edit->setBorderColor(QStringLiteral("#004B6A"));
}

void SettingBaseWithLineEdit::step(int delta) {
    bool ok = false;
    const int current = ui->le_nr_line_edit->text().toInt(&ok, 10);
    if (!ok)
        return;
    const long long v = static_cast<long long>(current) + delta;
    if (delta > 0 ? v > maximum : v < minimum)
        return;
    ui->horizontalSlider->setValue(static_cast<int>(v));
    if (ui->le_nr_line_edit->hasFocus())
        ui->le_nr_line_edit->setBorderColor(QStringLiteral("#004B6A"));
}

void SettingBaseWithLineEdit::on_pb_add_item_value_clicked() {
    step(+1);
}

void SettingBaseWithLineEdit::on_pb_sub_item_value_clicked() {
    step(-1);
}
