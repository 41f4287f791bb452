#include "settings/settingbasewithswitchbutton.h"

#include "Utility/Utility.h"
#include "ui_settingbasewithswitchbutton.h"
#include "widgets/nrtooltip.h"

SettingBaseWithSwitchButton::SettingBaseWithSwitchButton(std::string name, QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingBaseWithSwitchButton) {
    ui->setupUi(this);
    ui->lb_item_name->setText(QString::fromStdString(convertToUppercase(name)));
}

SettingBaseWithSwitchButton::~SettingBaseWithSwitchButton() {
    delete ui;
}

void SettingBaseWithSwitchButton::setSwitchBottonStatus(bool on) {
    ui->switchButton->setChecked(on); // setChecked does not emit clicked()
}

void SettingBaseWithSwitchButton::setToolTip(const QString& text) {
    auto* tip = new NrToolTip(text, 2, this);
    tip->anchorTarget(this);
}

void SettingBaseWithSwitchButton::slotItemValueChanged(std::string name, bool value) {
    if (name == convertToLowercase(ui->lb_item_name->text().toStdString()))
        ui->switchButton->setChecked(value);
}

void SettingBaseWithSwitchButton::on_switchButton_clicked() {
    emit signalItemValueChanged(convertToLowercase(ui->lb_item_name->text().toStdString()),
                                ui->switchButton->isChecked());
}
